// Ring grouping at O(n log n) cost. The rule is the plain one that Geometry.h states: a hole goes
// to the smallest outer ring (the first of equal ones) that holds more than half of its vertices
// by the even-odd rule. Two indexes keep it from costing holes times rings times vertices: a tree
// of the outer rings' boxes finds the few rings a hole could lie in, and each ring's edges sit in
// an interval tree by their span of y, so that a point test looks only at the edges that a
// horizontal line through the point crosses. A crafted shape can still make those many (a comb
// of a ring that every line crosses thousands of times), so the work is counted and bounded: past
// a budget of a constant times n log n the grouping stops, and the holes not yet placed stand as
// polygons of their own.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <numeric>
#include <vector>

#include "kel/geojson/Geometry.h"

namespace kel::geojson {

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Thrown when the grouping has spent its budget.
struct OutOfSteps {};

class Work {
 public:
  Work(GroupingCost& cost, std::uint64_t budget) : cost_(cost), budget_(budget) {}
  void spend(std::uint64_t steps) {
    cost_.steps += steps;
    if (cost_.steps > budget_) throw OutOfSteps{};
  }

 private:
  GroupingCost& cost_;
  std::uint64_t budget_;
};

std::uint64_t log2Ceil(std::size_t n) {
  return static_cast<std::uint64_t>(std::bit_width(n));
}

struct Box {
  double minX = kInfinity, minY = kInfinity, maxX = -kInfinity, maxY = -kInfinity;

  // A vertex with a NaN in it lies inside no ring, so it widens no box.
  void add(Point p) {
    if (std::isnan(p.x) || std::isnan(p.y)) return;
    minX = std::min(minX, p.x);
    minY = std::min(minY, p.y);
    maxX = std::max(maxX, p.x);
    maxY = std::max(maxY, p.y);
  }
  void add(const Box& b) {
    minX = std::min(minX, b.minX);
    minY = std::min(minY, b.minY);
    maxX = std::max(maxX, b.maxX);
    maxY = std::max(maxY, b.maxY);
  }
  bool holds(Point p) const { return p.x >= minX && p.x <= maxX && p.y >= minY && p.y <= maxY; }
  bool meets(const Box& b) const {
    return minX <= b.maxX && b.minX <= maxX && minY <= b.maxY && b.minY <= maxY;
  }
};

Box boxOf(const Ring& ring) {
  Box box;
  for (const Point& p : ring) box.add(p);
  return box;
}

// A box outside which no point lies inside the ring. The crossing of an edge is computed with
// rounding, so it may fall a little outside the edge's span of x: the box is that much wider. A
// ring with a coordinate so large that the computation may overflow (into an infinity, or a NaN
// that crosses one edge and not the next) may hold points anywhere.
Box reachOf(const Ring& ring) {
  constexpr double kTame = 1e150;
  for (const Point& p : ring) {
    if (!(std::fabs(p.x) <= kTame && std::fabs(p.y) <= kTame)) {
      return {-kInfinity, -kInfinity, kInfinity, kInfinity};
    }
  }
  Box box = boxOf(ring);
  double slack = (std::fabs(box.minX) + std::fabs(box.maxX)) * 1e-12;
  box.minX -= slack;
  box.maxX += slack;
  return box;
}

// The edges of one ring in an interval tree over their spans of y. An edge from a to b crosses
// the horizontal line through p when lo <= p.y < hi; a horizontal edge crosses none, and an edge
// with a NaN in it never counts. Each node keeps the edges whose span holds its centre, sorted
// by lo upwards and by hi downwards; the centre is the lower median of the endpoints below it,
// so that each side holds at most half of them and the tree is log n deep.
class EdgeIndex {
 public:
  EdgeIndex(const Ring& ring, Work& work) : ring_(ring) {
    std::vector<Edge> edges;
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
      double lo = std::min(ring[i].y, ring[j].y), hi = std::max(ring[i].y, ring[j].y);
      bool nan = std::isnan(ring[i].x) || std::isnan(ring[j].x) || std::isnan(lo) || std::isnan(hi);
      if (!nan && lo < hi) edges.push_back({lo, hi, static_cast<std::uint32_t>(i)});
    }
    work.spend(edges.size() * (log2Ceil(edges.size()) + 1));
    root_ = build(edges);
  }

  // Whether p lies inside the ring by the even-odd rule: the edges that a ray from p towards
  // growing x crosses.
  bool contains(Point p, Work& work) const {
    bool inside = false;
    auto cross = [&](const Edge& e) {
      std::size_t i = e.index, j = i == 0 ? ring_.size() - 1 : i - 1;
      const Point& a = ring_[i];
      const Point& b = ring_[j];
      if (p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x) inside = !inside;
    };
    if (std::isnan(p.y)) return false;
    for (std::int32_t n = root_; n >= 0;) {
      const Node& node = nodes_[static_cast<std::size_t>(n)];
      std::uint64_t steps = 1;
      if (p.y < node.centre) {
        for (std::uint32_t k = node.begin; k < node.end && byLo_[k].lo <= p.y; ++k, ++steps) {
          cross(byLo_[k]);
        }
        n = node.below;
      } else {
        for (std::uint32_t k = node.begin; k < node.end && byHi_[k].hi > p.y; ++k, ++steps) {
          cross(byHi_[k]);
        }
        n = p.y > node.centre ? node.above : -1;
      }
      work.spend(steps);
    }
    return inside;
  }

 private:
  struct Edge {
    double lo, hi;
    std::uint32_t index;  // from ring[index - 1], or the last vertex, to ring[index]
  };
  struct Node {
    double centre;
    std::uint32_t begin, end;  // its edges in byLo_ and byHi_
    std::int32_t below = -1, above = -1;
  };

  std::int32_t build(std::vector<Edge>& edges) {
    if (edges.empty()) return -1;
    std::vector<double> ends;
    ends.reserve(edges.size() * 2);
    for (const Edge& e : edges) ends.insert(ends.end(), {e.lo, e.hi});
    auto median = ends.begin() + static_cast<std::ptrdiff_t>(edges.size() - 1);
    std::nth_element(ends.begin(), median, ends.end());
    double centre = *median;
    std::vector<Edge> below, above;
    auto here = static_cast<std::uint32_t>(byLo_.size());
    for (const Edge& e : edges) {
      if (e.hi < centre) {
        below.push_back(e);
      } else if (e.lo > centre) {
        above.push_back(e);
      } else {
        byLo_.push_back(e);
        byHi_.push_back(e);
      }
    }
    edges.clear();
    edges.shrink_to_fit();
    std::sort(byLo_.begin() + here, byLo_.end(),
              [](const Edge& a, const Edge& b) { return a.lo < b.lo; });
    std::sort(byHi_.begin() + here, byHi_.end(),
              [](const Edge& a, const Edge& b) { return a.hi > b.hi; });
    auto n = static_cast<std::int32_t>(nodes_.size());
    nodes_.push_back({centre, here, static_cast<std::uint32_t>(byLo_.size())});
    std::int32_t lower = build(below);
    std::int32_t upper = build(above);
    nodes_[static_cast<std::size_t>(n)].below = lower;
    nodes_[static_cast<std::size_t>(n)].above = upper;
    return n;
  }

  const Ring& ring_;
  std::vector<Node> nodes_;
  std::vector<Edge> byLo_, byHi_;
  std::int32_t root_ = -1;
};

// The outer rings' boxes in a tree of halves, split alternately by x and by y, so that the rings
// whose box meets a hole's box are found without a look at every ring.
class BoxTree {
 public:
  BoxTree(std::vector<Box> boxes, Work& work) : boxes_(std::move(boxes)), items_(boxes_.size()) {
    std::iota(items_.begin(), items_.end(), 0u);
    work.spend(items_.size() * (log2Ceil(items_.size()) + 1));
    if (!items_.empty()) build(0, static_cast<std::uint32_t>(items_.size()), false);
  }

  // The items whose box meets `query`, in no particular order.
  void find(const Box& query, Work& work, std::vector<std::uint32_t>& found) const {
    found.clear();
    if (nodes_.empty()) return;
    std::vector<std::uint32_t> stack{0};
    while (!stack.empty()) {
      const Node& node = nodes_[stack.back()];
      stack.pop_back();
      work.spend(1);
      if (!node.box.meets(query)) continue;
      if (node.left == 0) {
        for (std::uint32_t k = node.begin; k < node.end; ++k) {
          if (boxes_[items_[k]].meets(query)) found.push_back(items_[k]);
        }
        work.spend(node.end - node.begin);
      } else {
        stack.push_back(node.left);
        stack.push_back(node.right);
      }
    }
  }

 private:
  static constexpr std::uint32_t kLeafItems = 4;
  struct Node {
    Box box;
    std::uint32_t begin, end;
    std::uint32_t left = 0, right = 0;  // its halves; none for a leaf (the root is no half)
  };

  std::uint32_t build(std::uint32_t begin, std::uint32_t end, bool byY) {
    auto n = static_cast<std::uint32_t>(nodes_.size());
    Box box;
    for (std::uint32_t k = begin; k < end; ++k) box.add(boxes_[items_[k]]);
    nodes_.push_back({box, begin, end});
    if (end - begin <= kLeafItems) return n;
    // The lower corners order the halves: a centre of infinite bounds would be NaN.
    std::uint32_t middle = begin + (end - begin) / 2;
    std::nth_element(items_.begin() + begin, items_.begin() + middle, items_.begin() + end,
                     [&](std::uint32_t a, std::uint32_t b) {
                       return byY ? boxes_[a].minY < boxes_[b].minY
                                  : boxes_[a].minX < boxes_[b].minX;
                     });
    std::uint32_t left = build(begin, middle, !byY);
    std::uint32_t right = build(middle, end, !byY);
    nodes_[n].left = left;
    nodes_[n].right = right;
    return n;
  }

  std::vector<Box> boxes_;
  std::vector<std::uint32_t> items_;
  std::vector<Node> nodes_;
};

// An outer ring, with what the grouping learns of it.
struct Outer {
  const Ring* ring;
  double area;
  std::size_t polygon;  // its place in the output
  mutable std::unique_ptr<EdgeIndex> edges;
};

// Whether more than half of the hole's vertices lie inside the outer ring; stops as soon as
// either half is reached.
bool holdsMost(const Outer& outer, const Box& box, const Ring& hole, Work& work) {
  std::size_t need = hole.size() / 2 + 1, in = 0, out = 0;
  for (const Point& p : hole) {
    work.spend(1);
    if (box.holds(p)) {
      if (!outer.edges) outer.edges = std::make_unique<EdgeIndex>(*outer.ring, work);
      if (outer.edges->contains(p, work)) {
        if (++in >= need) return true;
        continue;
      }
    }
    if (++out > hole.size() - need) return false;
  }
  return false;
}

}  // namespace

std::uint64_t groupingBudget(std::size_t vertices) {
  return 64 * vertices * (log2Ceil(vertices) + 1) + 4096;
}

std::vector<Polygon> polygonsOf(const std::vector<Ring>& rings, GroupingCost* cost) {
  GroupingCost own;
  GroupingCost& spent = cost != nullptr ? *cost : own;
  spent = {};
  std::size_t vertices = 0;
  for (const Ring& ring : rings) vertices += ring.size();
  Work work(spent, groupingBudget(vertices));

  std::vector<Polygon> polygons;
  std::vector<Outer> outers;  // by area, then by place
  std::vector<const Ring*> holes;
  for (const Ring& ring : rings) {
    double area = signedArea2(ring);
    if (area < 0) {
      outers.push_back({&ring, -area, polygons.size(), nullptr});
      polygons.push_back({ring, {}});
    } else {
      holes.push_back(&ring);
    }
  }
  std::stable_sort(outers.begin(), outers.end(),
                   [](const Outer& a, const Outer& b) { return a.area < b.area; });

  std::size_t placed = 0;
  std::vector<Polygon> strays;  // holes that no outer ring holds
  try {
    work.spend(vertices + outers.size() * (log2Ceil(outers.size()) + 1));
    std::vector<Box> boxes;
    for (const Outer& outer : outers) boxes.push_back(reachOf(*outer.ring));
    BoxTree tree(boxes, work);
    std::vector<std::uint32_t> candidates;
    for (; placed < holes.size(); ++placed) {
      const Ring& hole = *holes[placed];
      tree.find(boxOf(hole), work, candidates);
      work.spend(candidates.size() * (log2Ceil(candidates.size()) + 1));
      std::sort(candidates.begin(), candidates.end());
      auto smallest = std::find_if(candidates.begin(), candidates.end(), [&](std::uint32_t k) {
        return holdsMost(outers[k], boxes[k], hole, work);
      });
      if (smallest != candidates.end()) {
        polygons[outers[*smallest].polygon].holes.push_back(hole);
      } else {
        strays.push_back({hole, {}});  // an island drawn the wrong way round
      }
    }
  } catch (const OutOfSteps&) {
    spent.complete = false;
    for (; placed < holes.size(); ++placed) strays.push_back({*holes[placed], {}});
  }
  polygons.insert(polygons.end(), std::make_move_iterator(strays.begin()),
                  std::make_move_iterator(strays.end()));
  for (Polygon& polygon : polygons) {
    orient(polygon.outer, true);
    for (Ring& hole : polygon.holes) orient(hole, false);
  }
  return polygons;
}

}  // namespace kel::geojson
