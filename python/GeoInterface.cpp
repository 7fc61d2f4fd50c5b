#include "kel/geojson/Geometry.h"
#include "python/Binding.h"
#include "python/Serial.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/Shapefile.h"

namespace kelpy {

namespace {

namespace geojson = kel::geojson;

py::tuple position(const geojson::Point& p) {
  return py::make_tuple(p.x, p.y);
}

py::list line(const geojson::Ring& points) {
  py::list out;
  for (const geojson::Point& p : points) out.append(position(p));
  return out;
}

py::list polygon(const geojson::Polygon& p) {
  py::list out;
  out.append(line(p.outer));
  for (const geojson::Ring& hole : p.holes) out.append(line(hole));
  return out;
}

// The same geometry that `kelshp dump` writes, as the dictionaries of the geo interface.
py::object geometry(std::int32_t type, const kel::ShapeObject& shape) {
  geojson::Geometry g = geojson::geometryOf(type, shape);
  // GeoJSON holds finite numbers only: such a shape has no geometry, as in `kelshp dump`.
  if (!geojson::whyInvalid(g).empty()) return py::none();
  py::object coordinates;
  switch (g.type) {
    case geojson::GeometryType::Null:
      return py::none();
    case geojson::GeometryType::Point:
      coordinates = position(g.lines[0][0]);
      break;
    case geojson::GeometryType::MultiPoint:
    case geojson::GeometryType::LineString:
      coordinates = line(g.lines[0]);
      break;
    case geojson::GeometryType::MultiLineString: {
      py::list lines;
      for (const geojson::Ring& l : g.lines) lines.append(line(l));
      coordinates = lines;
      break;
    }
    case geojson::GeometryType::Polygon:
      coordinates = polygon(g.polygons[0]);
      break;
    case geojson::GeometryType::MultiPolygon: {
      py::list polygons;
      for (const geojson::Polygon& p : g.polygons) polygons.append(polygon(p));
      coordinates = polygons;
      break;
    }
  }
  py::dict out;
  out["type"] = std::string(geojson::nameOf(g.type));
  out["coordinates"] = coordinates;
  return out;
}

py::dict feature(std::int32_t fileType, const kel::ShapeObject& shape) {
  py::dict properties;
  for (const auto& [name, value] : geojson::propertiesOf(shape)) {
    properties[py::str(kel::toUtf8(name))] = kel::toUtf8(value);
  }
  py::dict out;
  out["type"] = "Feature";
  out["geometry"] = geometry(geojson::drawnType(shape, fileType), shape);
  out["properties"] = properties;
  return out;
}

py::object property(py::object getter, const char* doc) {
  return py::module_::import("builtins").attr("property")(getter, py::none(), py::none(), doc);
}

}  // namespace

void bindGeoInterface(py::module_& module) {
  py::setattr(module.attr("ShapeObject"), "__geo_interface__",
              property(py::cpp_function([](py::handle self) {
                         const auto& shape = objectOf<kel::ShapeObject>(self);
                         return geometry(shape.get_ShapeType(), shape);
                       }),
                       "__geo_interface__: dict[str, Any] | None\n\n"
                       "The shape's GeoJSON geometry as a dictionary (None for a shape without "
                       "vertices), with Polygon rings grouped as `kelshp dump` groups them."));
  py::setattr(
      module.attr("Shapefile"), "__geo_interface__",
      property(py::cpp_function([](py::handle self) {
                 const auto& file = objectOf<kel::Shapefile>(self);
                 // The shapes first, then their Python values: making those may run Python code
                 // (the collector's callbacks) that changes the list.
                 kel::Ref<kel::Collection> shapes = file.get_ShapeObjects();
                 std::vector<kel::Variant> items;
                 if (shapes) items.assign(shapes->begin(), shapes->end());
                 const std::int32_t type = file.get_ShapeType();
                 py::list features;
                 for (std::size_t i = 0; i < items.size(); ++i) {
                   checkSignals(static_cast<std::int64_t>(i));
                   features.append(feature(type, items[i].deref<kel::ShapeObject>()));
                 }
                 py::dict out;
                 out["type"] = "FeatureCollection";
                 out["features"] = features;
                 return out;
               }),
               "__geo_interface__: dict[str, Any]\n\n"
               "The shapefile as a GeoJSON FeatureCollection dictionary: one Feature per shape, "
               "its record's fields as properties (raw text), as `kelshp dump` writes it."));
}

}  // namespace kelpy
