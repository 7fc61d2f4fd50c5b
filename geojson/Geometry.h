#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kel/format/ShapeRecord.h"
#include "kel/geometry/ShapeObject.h"

// A shape's vertices as plain values, split into its parts, a Polygon's rings grouped the way GIS
// tools read shapefile polygons, and the GeoJSON geometry that results. Shared by kelshp's dump
// and picture and by the Python module's __geo_interface__, so that all of them agree.
namespace kel::geojson {

struct Point {
  double x = 0;
  double y = 0;
  double z = 0;  // when the geometry has Z values
  double m = 0;  // when it has M values; below -1e38, no measure
};
using Ring = std::vector<Point>;  // also a line string

struct Polygon {
  Ring outer;
  std::vector<Ring> holes;
};

// The parts of a shape: each runs from its start to the next one's (the last to the end). A start
// outside the vertices counts as the nearest end; a start that does not rise above the one before
// begins no part, so that no vertex is in two parts; empty parts are left out. A vertex that is
// Nothing counts as the origin, as in the shape's extents. A list of vertices or part starts that
// is Nothing raises "object variable not set".
std::vector<Ring> partsOf(const ShapeObject& shape);

// Twice the signed area: positive for a counter-clockwise ring (y up).
double signedArea2(const Ring& ring);

// Turns the ring round unless it already runs the way asked.
void orient(Ring& ring, bool counterClockwise);

// What a grouping cost: its steps (a box or an edge looked at, an index built), and whether it
// placed every hole before it ran out of them.
struct GroupingCost {
  std::uint64_t steps = 0;
  bool complete = true;
};

// The steps a grouping of rings of that many vertices in all may take: a constant times n log n.
std::uint64_t groupingBudget(std::size_t vertices);

// Groups rings into polygons: clockwise rings are outer rings and counter-clockwise ones holes,
// each hole going to the smallest outer ring (the first of equal ones) that holds more than half
// of its vertices by the even-odd rule. A hole that no outer ring holds stands as a polygon of its
// own, after the outer rings, as do the holes left when the grouping runs out of steps (crafted
// shapes only; `cost` tells). Rings come out as RFC 7946 wants them: outer rings
// counter-clockwise, holes clockwise.
std::vector<Polygon> polygonsOf(const std::vector<Ring>& rings, GroupingCost* cost = nullptr);

// The type a shape is drawn as: its own, or the file's when the shape has none (a read gives every
// shape its record's type, and a file may mix PolyLines and Polygons).
std::int32_t drawnType(const ShapeObject& shape, std::int32_t fileType);

enum class GeometryType {
  Null,
  Point,
  MultiPoint,
  LineString,
  MultiLineString,
  Polygon,
  MultiPolygon
};

// The GeoJSON name of the type ("Point", ...); empty for Null.
std::string_view nameOf(GeometryType type);

// A shape's GeoJSON geometry. Points and line strings are in `lines` (a Point is lines[0][0], a
// MultiPoint the single line lines[0]), polygons in `polygons`. Null when the shape has no vertex
// or its type draws nothing.
struct Geometry {
  GeometryType type = GeometryType::Null;
  std::vector<Ring> lines;
  std::vector<Polygon> polygons;
  bool grouped = true;  // false when the ring grouping ran out of steps
  bool hasZ = false;    // the points' z values are the shape's
  bool hasM = false;    // the points' m values are the shape's
};

Geometry geometryOf(std::int32_t type, const ShapeObject& shape);

// A record's GeoJSON geometry as a reader of the files gives it, Z and M values included: a null
// shape draws nothing; a MultiPatch is a MultiPolygon, its triangle strips and fans split into
// triangles, each outer or first ring starting a polygon and the inner rings and plain rings
// after it its holes.
Geometry geometryOf(const format::ShapeView& shape);

// Why a geometry cannot stand as GeoJSON, whose positions hold finite numbers only: a sentence
// ("2 of its 5 vertices have a coordinate that is NaN or infinite, ..."), empty when it can.
std::string whyInvalid(const Geometry& g);

// A shape's record as a feature's properties: each field's name and raw text, in order, a
// repeated name keeping its first value as lookups by name do; empty for a shape without record.
using Properties = std::vector<std::pair<std::u16string, std::u16string>>;
Properties propertiesOf(const ShapeObject& shape);

}  // namespace kel::geojson
