#include "Geometry.h"

#include <algorithm>
#include <cmath>

namespace kelshp {

namespace {

bool contains(const Ring& ring, Point p) {
  bool inside = false;
  for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
    const Point& a = ring[i];
    const Point& b = ring[j];
    if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x) {
      inside = !inside;
    }
  }
  return inside;
}

// A vertex of the hole that lies strictly inside whatever contains the hole, when there is one:
// the hole's own first vertex may sit on the outer ring.
bool ringInside(const Ring& hole, const Ring& outer) {
  std::size_t votes = 0;
  for (const Point& p : hole) votes += contains(outer, p) ? 1 : 0;
  return votes * 2 > hole.size();
}

void orient(Ring& ring, bool counterClockwise) {
  if ((signedArea2(ring) > 0) != counterClockwise) std::reverse(ring.begin(), ring.end());
}

}  // namespace

std::vector<Ring> partsOf(const kel::ShapeObject& shape) {
  std::int32_t count = shape.get_CoordinateCount();
  std::vector<Point> points;
  points.reserve(static_cast<std::size_t>(count));
  for (const kel::Variant& item : *shape.get_Coordinates()) {
    kel::Ref<kel::Coordinate> c = item.as<kel::Coordinate>();
    points.push_back(c ? Point{c->get_X(), c->get_Y()} : Point{});
  }
  std::vector<std::int32_t> starts;
  for (const kel::Variant& item : *shape.get_Parts()) starts.push_back(item.toInt32());
  std::vector<Ring> parts;
  for (std::size_t i = 0; i < starts.size(); ++i) {
    std::int32_t begin = std::clamp(starts[i], 0, count);
    std::int32_t end = i + 1 < starts.size() ? std::clamp(starts[i + 1], 0, count) : count;
    if (end > begin) parts.emplace_back(points.begin() + begin, points.begin() + end);
  }
  return parts;
}

double signedArea2(const Ring& ring) {
  double sum = 0;
  for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
    sum += (ring[j].x - ring[i].x) * (ring[j].y + ring[i].y);
  }
  return sum;
}

std::vector<Polygon> polygonsOf(const std::vector<Ring>& rings) {
  std::vector<Polygon> polygons;
  std::vector<const Ring*> holes;
  for (const Ring& ring : rings) {
    if (signedArea2(ring) < 0) {
      polygons.push_back({ring, {}});
    } else {
      holes.push_back(&ring);
    }
  }
  for (const Ring* hole : holes) {
    Polygon* best = nullptr;
    for (Polygon& polygon : polygons) {
      bool smaller = best == nullptr ||
                     std::fabs(signedArea2(polygon.outer)) < std::fabs(signedArea2(best->outer));
      if (smaller && ringInside(*hole, polygon.outer)) best = &polygon;
    }
    if (best != nullptr) {
      best->holes.push_back(*hole);
    } else {
      polygons.push_back({*hole, {}});  // an island drawn the wrong way round
    }
  }
  for (Polygon& polygon : polygons) {
    orient(polygon.outer, true);
    for (Ring& hole : polygon.holes) orient(hole, false);
  }
  return polygons;
}

}  // namespace kelshp
