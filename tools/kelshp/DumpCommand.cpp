#include <cmath>
#include <cstdio>
#include <string>

#include "Output.h"
#include "Tool.h"
#include "geojson/Geometry.h"
#include "runtime/Text.h"

namespace kelshp {

namespace {

using kel::geojson::GeometryType;
using kel::geojson::Point;
using kel::geojson::Polygon;
using kel::geojson::Ring;

constexpr const char* kUsage =
    "usage: kelshp dump PATH\n"
    "\n"
    "Writes the whole shapefile as RFC 7946 GeoJSON to standard output: a\n"
    "FeatureCollection with one Feature per shape, in file order. Polygon rings are\n"
    "grouped into polygons with their holes; every record's fields become the\n"
    "feature's properties, as raw text with blanks kept. A shape with a coordinate\n"
    "that is NaN or infinite has a null geometry and says why in \"kelshp:invalid\".\n";

std::string position(const Point& p) {
  return "[" + number(p.x) + "," + number(p.y) + "]";
}

std::string line(const Ring& points) {
  std::string out = "[";
  for (std::size_t i = 0; i < points.size(); ++i) out += (i ? "," : "") + position(points[i]);
  return out + "]";
}

std::string polygon(const Polygon& p) {
  std::string out = "[" + line(p.outer);
  for (const Ring& hole : p.holes) out += "," + line(hole);
  return out + "]";
}

template <class T, class F>
std::string list(const std::vector<T>& items, F&& each) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + each(items[i]);
  return out + "]";
}

// The geometry of a shape as GeoJSON; null when the shape has nothing to draw.
std::string geometry(const kel::geojson::Geometry& g) {
  std::string coordinates;
  switch (g.type) {
    case GeometryType::Null:
      return "null";
    case GeometryType::Point:
      coordinates = position(g.lines[0][0]);
      break;
    case GeometryType::MultiPoint:
    case GeometryType::LineString:
      coordinates = line(g.lines[0]);
      break;
    case GeometryType::MultiLineString:
      coordinates = list(g.lines, line);
      break;
    case GeometryType::Polygon:
      coordinates = polygon(g.polygons[0]);
      break;
    case GeometryType::MultiPolygon:
      coordinates = list(g.polygons, polygon);
      break;
  }
  return R"({"type":")" + std::string(kel::geojson::nameOf(g.type)) + R"(","coordinates":)" +
         coordinates + "}";
}

std::string properties(const kel::ShapeObject& shape) {
  std::string out = "{";
  for (const auto& [name, value] : kel::geojson::propertiesOf(shape)) {
    out += (out.size() > 1 ? "," : "") + jsonString(name) + ":" + jsonString(value);
  }
  return out + "}";
}

// A shape's feature. Its geometry is null, with a "kelshp:invalid" member that says why, when its
// coordinates cannot be written.
std::string feature(std::int32_t type, const kel::ShapeObject& shape) {
  kel::geojson::Geometry g = kel::geojson::geometryOf(type, shape);
  std::string why = kel::geojson::whyInvalid(g);
  std::string out = R"({"type":"Feature","geometry":)" + (why.empty() ? geometry(g) : "null");
  if (!why.empty()) out += R"(,"kelshp:invalid":)" + jsonString(kel::toUtf16(why));
  return out + R"(,"properties":)" + properties(shape) + "}";
}

}  // namespace

int runDump(const Args& args) {
  if (wantsHelp(args)) return std::fputs(kUsage, stdout), 0;
  if (args.size() != 1) return std::fputs(kUsage, stderr), 2;
  kel::Ref<kel::Shapefile> file = load(ShapefilePath::parse(args[0]));
  if (!file) return 1;

  std::fputs(R"({"type":"FeatureCollection","features":[)", stdout);
  bool first = true;
  kel::Ref<kel::Collection> shapes = file->get_ShapeObjects();
  for (const kel::Variant& item : kel::deref(shapes)) {
    const kel::ShapeObject& shape = item.deref<kel::ShapeObject>();
    std::int32_t type = kel::geojson::drawnType(shape, file->get_ShapeType());
    std::string text = (first ? "\n" : ",\n") + feature(type, shape);
    std::fwrite(text.data(), 1, text.size(), stdout);
    first = false;
  }
  std::fputs("\n]}\n", stdout);
  return std::fflush(stdout) == 0 ? 0 : fail("standard output: write failed");
}

}  // namespace kelshp
