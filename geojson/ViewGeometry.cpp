#include <cstddef>

#include "kel/format/ShapeType.h"
#include "kel/geojson/Geometry.h"

namespace kel::geojson {

namespace {

using Kind = format::Geometry;
using format::PartType;

// The vertices of a record, with its Z and M values.
class Vertices {
 public:
  explicit Vertices(const format::ShapeView& v) : v_(v) {}
  Point at(std::size_t i) const {
    return {v_.points[i].x, v_.points[i].y, v_.z.empty() ? 0 : v_.z[i], v_.m.empty() ? 0 : v_.m[i]};
  }
  Ring range(std::size_t begin, std::size_t end) const {
    Ring r;
    r.reserve(end - begin);
    for (std::size_t i = begin; i < end; ++i) r.push_back(at(i));
    return r;
  }
  // The parts as the record's starts divide its vertices; the codec has checked that they rise.
  std::vector<std::pair<std::size_t, std::size_t>> parts() const {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    for (std::size_t k = 0; k < v_.parts.size(); ++k) {
      auto begin = static_cast<std::size_t>(v_.parts[k]);
      std::size_t end =
          k + 1 < v_.parts.size() ? static_cast<std::size_t>(v_.parts[k + 1]) : v_.points.size();
      out.emplace_back(begin, end);
    }
    return out;
  }

 private:
  const format::ShapeView& v_;
};

// A MultiPatch's surfaces as polygons, each running as RFC 7946 wants it.
std::vector<Polygon> patches(const format::ShapeView& v, const Vertices& points) {
  std::vector<Polygon> out;
  bool ringOpen = false;  // whether the last polygon may take holes
  auto triangle = [&](std::size_t a, std::size_t b, std::size_t c) {
    out.push_back({{points.at(a), points.at(b), points.at(c), points.at(a)}, {}});
    ringOpen = false;
  };
  std::vector<std::pair<std::size_t, std::size_t>> parts = points.parts();
  for (std::size_t k = 0; k < parts.size(); ++k) {
    auto [begin, end] = parts[k];
    switch (static_cast<PartType>(v.partTypes[k])) {
      case PartType::TriangleStrip:
        for (std::size_t i = begin; i + 2 < end; ++i) triangle(i, i + 1, i + 2);
        break;
      case PartType::TriangleFan:
        for (std::size_t i = begin + 1; i + 1 < end; ++i) triangle(begin, i, i + 1);
        break;
      case PartType::OuterRing:
      case PartType::FirstRing:
        out.push_back({points.range(begin, end), {}});
        ringOpen = true;
        break;
      case PartType::InnerRing:
      case PartType::Ring:
        if (ringOpen) {
          out.back().holes.push_back(points.range(begin, end));
        } else {
          out.push_back({points.range(begin, end), {}});
          ringOpen = true;
        }
        break;
    }
  }
  for (Polygon& p : out) {
    orient(p.outer, true);
    for (Ring& hole : p.holes) orient(hole, false);
  }
  return out;
}

}  // namespace

geojson::Geometry geometryOf(const format::ShapeView& v) {
  geojson::Geometry g;
  std::optional<format::ShapeTypeTraits> traits =
      format::traitsOf(static_cast<std::int32_t>(v.type));
  if (!traits || v.points.empty()) return g;
  g.hasZ = !v.z.empty();
  g.hasM = !v.m.empty();
  Vertices points(v);
  switch (traits->geometry) {
    case Kind::Null:
      break;
    case Kind::Point:
      g.type = GeometryType::Point;
      g.lines.push_back({points.at(0)});
      break;
    case Kind::MultiPoint:
      g.type = GeometryType::MultiPoint;
      g.lines.push_back(points.range(0, v.points.size()));
      break;
    case Kind::PolyLine:
      for (auto [begin, end] : points.parts()) g.lines.push_back(points.range(begin, end));
      g.type = g.lines.size() == 1 ? GeometryType::LineString : GeometryType::MultiLineString;
      break;
    case Kind::Polygon: {
      std::vector<Ring> rings;
      for (auto [begin, end] : points.parts()) rings.push_back(points.range(begin, end));
      GroupingCost cost;
      g.polygons = polygonsOf(rings, &cost);
      g.grouped = cost.complete;
      g.type = g.polygons.size() == 1 ? GeometryType::Polygon : GeometryType::MultiPolygon;
      break;
    }
    case Kind::MultiPatch:
      g.polygons = patches(v, points);
      if (!g.polygons.empty()) g.type = GeometryType::MultiPolygon;
      break;
  }
  if (g.lines.empty() && g.polygons.empty()) g.type = GeometryType::Null;
  return g;
}

}  // namespace kel::geojson
