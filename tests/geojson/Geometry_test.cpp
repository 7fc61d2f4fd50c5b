#include "kel/geojson/Geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

using namespace kel::geojson;

namespace {

// The grouping as its rule says it, looking at every outer ring for every hole: what the indexed
// grouping must give for every input it finishes.
std::vector<Polygon> groupedPlainly(const std::vector<Ring>& rings) {
  auto inside = [](const Ring& ring, Point p) {
    bool in = false;
    for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
      const Point &a = ring[i], &b = ring[j];
      if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x)
        in = !in;
    }
    return in;
  };
  std::vector<Polygon> polygons;
  std::vector<const Ring*> holes;
  for (const Ring& ring : rings) {
    if (signedArea2(ring) < 0) {
      polygons.push_back({ring, {}});
    } else {
      holes.push_back(&ring);
    }
  }
  std::size_t outers = polygons.size();
  for (const Ring* hole : holes) {
    Polygon* best = nullptr;
    for (std::size_t k = 0; k < outers; ++k) {
      std::size_t votes = 0;
      for (Point p : *hole) votes += inside(polygons[k].outer, p);
      bool smaller = best == nullptr || -signedArea2(polygons[k].outer) < -signedArea2(best->outer);
      if (smaller && votes * 2 > hole->size()) best = &polygons[k];
    }
    if (best != nullptr) {
      best->holes.push_back(*hole);
    } else {
      polygons.push_back({*hole, {}});
    }
  }
  for (Polygon& p : polygons) {
    if (!(signedArea2(p.outer) > 0)) std::reverse(p.outer.begin(), p.outer.end());
    for (Ring& h : p.holes)
      if (signedArea2(h) > 0) std::reverse(h.begin(), h.end());
  }
  return polygons;
}

// The polygons' coordinates, bit for bit, with a mark between rings and polygons.
std::vector<std::uint64_t> bitsOf(const std::vector<Polygon>& polygons) {
  std::vector<std::uint64_t> out;
  auto put = [&](const Ring& ring) {
    for (Point p : ring) {
      std::uint64_t x, y;
      std::memcpy(&x, &p.x, 8);
      std::memcpy(&y, &p.y, 8);
      out.insert(out.end(), {x, y});
    }
    out.push_back(1);
  };
  for (const Polygon& p : polygons) {
    put(p.outer);
    for (const Ring& h : p.holes) put(h);
    out.push_back(2);
  }
  return out;
}

Ring circle(double cx, double cy, double r, std::size_t n, bool clockwise) {
  Ring ring;
  for (std::size_t i = 0; i <= n; ++i) {
    double a = 2 * std::numbers::pi * static_cast<double>(i % n) / static_cast<double>(n);
    ring.push_back({cx + r * std::cos(clockwise ? -a : a), cy + r * std::sin(clockwise ? -a : a)});
  }
  return ring;
}

// Rings of every kind a file may hold: nested circles either way round, and small rings of points
// on a coarse grid, which touch, cross themselves and share vertices and edges, some with a
// coordinate that is NaN or infinite.
std::vector<Ring> randomRings(std::mt19937& random) {
  auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  std::vector<Ring> rings;
  for (int r = pick(12); r >= 0; --r) {
    if (pick(2) == 0) {
      rings.push_back(circle(pick(8), pick(8), 1 + pick(6), 3 + pick(20), pick(3) != 0));
    } else {
      Ring ring;
      for (int n = pick(9); n >= 0; --n) ring.push_back({double(pick(9)), double(pick(9))});
      // Now and then a coordinate that is no number or infinite.
      const double odd[] = {NAN, INFINITY, -INFINITY, 1e308};
      if (pick(8) == 0) (pick(2) == 0 ? ring[0].x : ring.back().y) = odd[pick(4)];
      rings.push_back(ring);
    }
  }
  return rings;
}

// One outer ring of `n` vertices, n/8 small triangles inside it and n/2 holes of one point: the
// shape that took the plain grouping minutes.
std::vector<Ring> manyHoles(std::size_t n) {
  std::vector<Ring> rings{circle(0, 0, 1000, n, true)};
  for (std::size_t i = 0; i < n / 8; ++i) {
    double x = -500 + static_cast<double>(i % 40) * 25, y = -500 + static_cast<double>(i / 40) * 3;
    rings.push_back({{x, y}, {x + 1, y + 2}, {x + 2, y}, {x, y}});
  }
  for (std::size_t i = 0; i < n / 2; ++i) {
    double step = 1200 / static_cast<double>(n / 2);
    rings.push_back(
        {{-600 + static_cast<double>(i % 97) * 12.5, -600 + static_cast<double>(i) * step}});
  }
  return rings;
}

// A comb of `n` teeth that every horizontal line crosses n times, and n holes of one point on it.
std::vector<Ring> comb(std::size_t n) {
  Ring outer{{0, 0}};
  for (std::size_t i = 0; i < n; ++i) {
    double x = static_cast<double>(i) * 2;
    outer.insert(outer.end(), {{x, 10}, {x + 1, 10}, {x + 1, 1}, {x + 2, 1}});
  }
  outer.insert(outer.end(), {{outer.back().x, 0}, {0, 0}});
  std::vector<Ring> rings{outer};
  if (signedArea2(outer) > 0) std::reverse(rings[0].begin(), rings[0].end());
  for (std::size_t i = 0; i < n; ++i) rings.push_back({{0.5, 2 + static_cast<double>(i) / n}});
  return rings;
}

std::size_t verticesOf(const std::vector<Ring>& rings) {
  std::size_t n = 0;
  for (const Ring& r : rings) n += r.size();
  return n;
}

}  // namespace

TEST(RingGrouping, GroupsAsThePlainRuleDoes) {
  std::mt19937 random(7);
  for (int round = 0; round < 4000; ++round) {
    std::vector<Ring> rings = randomRings(random);
    GroupingCost cost;
    ASSERT_EQ(bitsOf(polygonsOf(rings, &cost)), bitsOf(groupedPlainly(rings))) << round;
    EXPECT_TRUE(cost.complete);
  }
  std::vector<Ring> many = manyHoles(800);
  EXPECT_EQ(bitsOf(polygonsOf(many)), bitsOf(groupedPlainly(many)));
}

// The work grows as n log n in the vertices, whatever the shape; a shape that would need more
// stops at the budget, with every ring still in the output.
TEST(RingGrouping, WorkIsBoundedByNLogN) {
  for (std::size_t n : {1000, 4000, 16000}) {
    std::vector<Ring> rings = manyHoles(n);
    GroupingCost cost;
    std::vector<Polygon> polygons = polygonsOf(rings, &cost);
    double v = static_cast<double>(verticesOf(rings));
    std::printf("%6zu vertices: %.1f steps per vertex and log2\n", verticesOf(rings),
                static_cast<double>(cost.steps) / (v * std::log2(v)));
    EXPECT_TRUE(cost.complete);
    EXPECT_LE(cost.steps, 8 * v * std::log2(v)) << n;
    EXPECT_EQ(polygons.size(), 1 + n / 8);
  }
  for (std::size_t n : {4000, 16000}) {
    std::vector<Ring> rings = comb(n);
    GroupingCost cost;
    std::vector<Polygon> polygons = polygonsOf(rings, &cost);
    EXPECT_FALSE(cost.complete) << n;
    EXPECT_LE(cost.steps, groupingBudget(verticesOf(rings)) + verticesOf(rings)) << n;
    std::size_t ringsOut = 0;
    for (const Polygon& p : polygons) ringsOut += 1 + p.holes.size();
    EXPECT_EQ(ringsOut, rings.size());
  }
}

// Part starts that go back and forth, as a crafted file may hold them, put no vertex in two parts.
TEST(Parts, EachVertexGoesToOnePartAtMost) {
  auto shape = kel::makeRef<kel::ShapeObject>();
  for (int i = 0; i < 10; ++i) shape->addCoord(kel::makeRef<kel::Coordinate>());
  struct Case {
    std::vector<std::int32_t> starts;
    std::vector<std::size_t> sizes;
  } cases[] = {
      {{0, 5, 0, 5, 0, 5}, {5, 5}},
      {{0, 5, 3, 8}, {5, 3, 2}},
      {{-4, 3, 12, 6}, {3, 7}},
  };
  for (const Case& c : cases) {
    auto parts = kel::makeRef<kel::Collection>();
    for (std::int32_t s : c.starts) parts->add(kel::Variant(s));
    shape->putref_Parts(parts);
    std::vector<std::size_t> sizes;
    for (const Ring& part : partsOf(*shape)) sizes.push_back(part.size());
    EXPECT_EQ(sizes, c.sizes);
  }
}
