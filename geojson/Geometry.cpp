#include "kel/geojson/Geometry.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

namespace kel::geojson {

std::vector<Ring> partsOf(const ShapeObject& shape) {
  Ref<Collection> coordinates = shape.get_Coordinates();
  std::int32_t count = deref(coordinates).count();
  std::vector<Point> points;
  points.reserve(static_cast<std::size_t>(count));
  for (const Variant& item : *coordinates) {
    Ref<Coordinate> c = item.as<Coordinate>();
    points.push_back(c ? Point{c->get_X(), c->get_Y()} : Point{});
  }
  std::vector<std::int32_t> starts;
  Ref<Collection> partStarts = shape.get_Parts();
  for (const Variant& item : deref(partStarts)) starts.push_back(item.toInt32());
  // Each vertex goes to one part at most, so that starts which go back and forth cannot make the
  // parts outgrow the vertices.
  std::vector<std::int32_t> kept;
  for (std::int32_t start : starts) {
    start = std::clamp(start, 0, count);
    if (kept.empty() || start > kept.back()) kept.push_back(start);
  }
  std::vector<Ring> parts;
  for (std::size_t i = 0; i < kept.size(); ++i) {
    std::int32_t end = i + 1 < kept.size() ? kept[i + 1] : count;
    if (end > kept[i]) parts.emplace_back(points.begin() + kept[i], points.begin() + end);
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

void orient(Ring& ring, bool counterClockwise) {
  if ((signedArea2(ring) > 0) != counterClockwise) std::reverse(ring.begin(), ring.end());
}

std::int32_t drawnType(const ShapeObject& shape, std::int32_t fileType) {
  return shape.get_ShapeType() != kelUndefined ? shape.get_ShapeType() : fileType;
}

std::string_view nameOf(GeometryType type) {
  switch (type) {
    case GeometryType::Null:
      return "";
    case GeometryType::Point:
      return "Point";
    case GeometryType::MultiPoint:
      return "MultiPoint";
    case GeometryType::LineString:
      return "LineString";
    case GeometryType::MultiLineString:
      return "MultiLineString";
    case GeometryType::Polygon:
      return "Polygon";
    case GeometryType::MultiPolygon:
      return "MultiPolygon";
  }
  return "";
}

Geometry geometryOf(std::int32_t type, const ShapeObject& shape) {
  Geometry g;
  std::vector<Ring> parts = partsOf(shape);
  if (parts.empty()) return g;
  switch (type) {
    case kelPoint:
      g.type = GeometryType::Point;
      g.lines.push_back({parts[0][0]});
      break;
    case kelMultiPoint: {
      g.type = GeometryType::MultiPoint;
      Ring all;
      for (const Ring& part : parts) all.insert(all.end(), part.begin(), part.end());
      g.lines.push_back(std::move(all));
      break;
    }
    case kelPolyLine:
      g.type = parts.size() == 1 ? GeometryType::LineString : GeometryType::MultiLineString;
      g.lines = std::move(parts);
      break;
    case kelPolygon: {
      GroupingCost cost;
      g.polygons = polygonsOf(parts, &cost);
      g.grouped = cost.complete;
      g.type = g.polygons.size() == 1 ? GeometryType::Polygon : GeometryType::MultiPolygon;
      break;
    }
    default:
      break;
  }
  return g;
}

std::string whyInvalid(const Geometry& g) {
  std::size_t vertices = 0, bad = 0;
  auto count = [&](const Ring& ring) {
    for (const Point& p : ring) {
      ++vertices;
      bad += std::isfinite(p.x) && std::isfinite(p.y) && (!g.hasZ || std::isfinite(p.z)) ? 0 : 1;
    }
  };
  for (const Ring& line : g.lines) count(line);
  for (const Polygon& p : g.polygons) {
    count(p.outer);
    for (const Ring& hole : p.holes) count(hole);
  }
  if (bad == 0) return {};
  std::string which = vertices == 1 ? "its vertex has"
                                    : std::to_string(bad) + " of its " + std::to_string(vertices) +
                                          (bad == 1 ? " vertices has" : " vertices have");
  return which + " a coordinate that is NaN or infinite, which GeoJSON cannot hold";
}

Properties propertiesOf(const ShapeObject& shape) {
  Properties out;
  Ref<Record> record = shape.get_Record();
  Ref<Collection> fields = record ? record->get_Fields() : nullptr;
  if (!fields) return out;
  std::set<std::u16string> seen;
  for (const Variant& item : *fields) {
    Ref<RecordField> field = item.as<RecordField>();
    if (field && seen.insert(std::u16string(field->name())).second)
      out.emplace_back(field->name(), field->value());
  }
  return out;
}

}  // namespace kel::geojson
