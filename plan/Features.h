#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "kel/format/Value.h"

// Features as the planner takes them, whatever they were read from (a GeoJSON file, Python
// objects): a geometry as its kind and its coordinates, and the properties as typed values.
namespace kel::plan {

// An integer that no std::int64_t holds, as its decimal text ("-123456789012345678901").
struct BigInteger {
  std::string digits;
  bool operator==(const BigInteger&) const = default;
};

// A property's value: none, a logical value, an integer, a double, text (UTF-8) or a day.
using Value =
    std::variant<std::monostate, bool, std::int64_t, BigInteger, double, std::string, format::Date>;

// A property: its name (UTF-8) and its value.
using Property = std::pair<std::string, Value>;

// The GeoJSON geometry types; None for a feature without geometry.
enum class GeometryKind : std::uint8_t {
  None,
  Point,
  MultiPoint,
  LineString,
  MultiLineString,
  Polygon,
  MultiPolygon
};

// A geometry's positions in order, each with X and Y, and Z and M where it has them, with the
// starts of its lines or rings. Built a position at a time: a geometry whose positions have Z
// values for some positions only has 0 for the others; one whose positions have M values for
// some only has "no measure" (below format::kNoMeasureBelow) for the others.
struct Geometry {
  GeometryKind kind = GeometryKind::None;
  std::vector<double> x, y;
  std::vector<double> z, m;              // empty, or a value a position
  std::vector<std::int32_t> parts;       // lines and rings: where each starts in x
  std::vector<std::uint8_t> firstRings;  // rings: 1 for the first ring of a polygon, a part each

  void clear();
  // Begins a line, or a ring (the first of a polygon, or one after it).
  void startLine();
  void startRing(bool first);
  // Adds a position to the point, the points or the part begun last.
  void add(double x, double y, std::optional<double> z = {}, std::optional<double> m = {});
  std::size_t size() const noexcept { return x.size(); }
};

// A geometry type by its GeoJSON name; none for another name.
std::optional<GeometryKind> geometryKindNamed(std::string_view name);
const char* nameOf(GeometryKind kind);

}  // namespace kel::plan
