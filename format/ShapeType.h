#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kel::format {

// The shape types of the main file, by their codes.
enum class ShapeType : std::int32_t {
  Null = 0,
  Point = 1,
  PolyLine = 3,
  Polygon = 5,
  MultiPoint = 8,
  PointZ = 11,
  PolyLineZ = 13,
  PolygonZ = 15,
  MultiPointZ = 18,
  PointM = 21,
  PolyLineM = 23,
  PolygonM = 25,
  MultiPointM = 28,
  MultiPatch = 31,
};

// Every shape type, by rising code.
constexpr ShapeType kShapeTypes[] = {
    ShapeType::Null,        ShapeType::Point,      ShapeType::PolyLine,    ShapeType::Polygon,
    ShapeType::MultiPoint,  ShapeType::PointZ,     ShapeType::PolyLineZ,   ShapeType::PolygonZ,
    ShapeType::MultiPointZ, ShapeType::PointM,     ShapeType::PolyLineM,   ShapeType::PolygonM,
    ShapeType::MultiPointM, ShapeType::MultiPatch,
};

// What a type's records hold, whatever their dimensions.
enum class Geometry { Null, Point, PolyLine, Polygon, MultiPoint, MultiPatch };

struct ShapeTypeTraits {
  Geometry geometry;
  bool z;  // Z values follow the points (M values may follow them)
  bool m;  // M values may follow the points (or the Z values)
  std::string_view name;
};

// The traits of a type code; none for a code that names no type.
std::optional<ShapeTypeTraits> traitsOf(std::int32_t code) noexcept;

// How a MultiPatch part's vertices make surfaces.
enum class PartType : std::int32_t {
  TriangleStrip = 0,
  TriangleFan = 1,
  OuterRing = 2,
  InnerRing = 3,
  FirstRing = 4,
  Ring = 5,
};

// An M value below this means "no measure".
constexpr double kNoMeasureBelow = -1e38;
// The "no measure" that the writers put where a shape has no M: well below the line.
constexpr double kNoMeasure = -1e39;

}  // namespace kel::format
