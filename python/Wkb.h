#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "kel/format/ShapeRecord.h"
#include "kel/plan/Features.h"

// Geometries as WKB, the form that shapely, geopandas and GeoParquet exchange in bulk: a record
// written as GDAL reads it from the files, and WKB read for the planner.
namespace kelpy::wkb {

// The record's geometry as WKB in `out` (replaced), as GDAL reads it from the files: points and
// lines as they are, Z values where the type has them (M values are left out), polygons' rings
// grouped as kel::geojson::geometryOf groups them and running as the format has them (outer rings
// clockwise). False, and `out` empty, for a null shape.
bool write(const kel::format::ShapeView& view, std::string& out);

// Why bytes are no geometry that a layer takes: where in them, and a sentence.
class Unreadable : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// WKB (either byte order; ISO or extended Z and M) of a Point, LineString, Polygon or their
// Multi kinds into `out`. Throws Unreadable for anything else, and for bytes that end early or
// run on past the geometry.
void read(std::string_view bytes, kel::plan::Geometry& out);

}  // namespace kelpy::wkb
