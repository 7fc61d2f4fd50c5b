#include "kel/format/ShapeType.h"

namespace kel::format {

std::optional<ShapeTypeTraits> traitsOf(std::int32_t code) noexcept {
  switch (static_cast<ShapeType>(code)) {
    case ShapeType::Null:
      return ShapeTypeTraits{Geometry::Null, false, false, "Null"};
    case ShapeType::Point:
      return ShapeTypeTraits{Geometry::Point, false, false, "Point"};
    case ShapeType::PolyLine:
      return ShapeTypeTraits{Geometry::PolyLine, false, false, "PolyLine"};
    case ShapeType::Polygon:
      return ShapeTypeTraits{Geometry::Polygon, false, false, "Polygon"};
    case ShapeType::MultiPoint:
      return ShapeTypeTraits{Geometry::MultiPoint, false, false, "MultiPoint"};
    case ShapeType::PointZ:
      return ShapeTypeTraits{Geometry::Point, true, true, "PointZ"};
    case ShapeType::PolyLineZ:
      return ShapeTypeTraits{Geometry::PolyLine, true, true, "PolyLineZ"};
    case ShapeType::PolygonZ:
      return ShapeTypeTraits{Geometry::Polygon, true, true, "PolygonZ"};
    case ShapeType::MultiPointZ:
      return ShapeTypeTraits{Geometry::MultiPoint, true, true, "MultiPointZ"};
    case ShapeType::PointM:
      return ShapeTypeTraits{Geometry::Point, false, true, "PointM"};
    case ShapeType::PolyLineM:
      return ShapeTypeTraits{Geometry::PolyLine, false, true, "PolyLineM"};
    case ShapeType::PolygonM:
      return ShapeTypeTraits{Geometry::Polygon, false, true, "PolygonM"};
    case ShapeType::MultiPointM:
      return ShapeTypeTraits{Geometry::MultiPoint, false, true, "MultiPointM"};
    case ShapeType::MultiPatch:
      return ShapeTypeTraits{Geometry::MultiPatch, true, true, "MultiPatch"};
  }
  return std::nullopt;
}

}  // namespace kel::format
