#pragma once

#include <vector>

#include "shapefile/Shapefile.h"

// A shape's vertices as plain values, split into its parts, and a Polygon's rings grouped the way
// GIS tools read shapefile polygons. Shared by the GeoJSON dump and the SVG picture.
namespace kelshp {

struct Point {
  double x = 0;
  double y = 0;
};
using Ring = std::vector<Point>;  // also a line string

struct Polygon {
  Ring outer;
  std::vector<Ring> holes;
};

// The parts of a shape: each runs from its start to the next one's (the last to the end). Starts
// that fall outside the vertices or do not ascend give empty parts, which are left out.
std::vector<Ring> partsOf(const kel::ShapeObject& shape);

// Twice the signed area: positive for a counter-clockwise ring (y up).
double signedArea2(const Ring& ring);

// Groups rings into polygons: clockwise rings are outer rings and counter-clockwise ones holes,
// each hole going to the smallest outer ring that contains it. A hole that no outer ring contains
// stands as a polygon of its own. Rings come out as RFC 7946 wants them: outer rings
// counter-clockwise, holes clockwise.
std::vector<Polygon> polygonsOf(const std::vector<Ring>& rings);

}  // namespace kelshp
