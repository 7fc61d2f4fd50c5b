#pragma once

#include <optional>
#include <string>

namespace kelshp {

struct ShapefileOptions {
  bool splitTypes = false;          // one layer per kind of geometry rather than a refusal of a mix
  bool cut = false;                 // text longer than a column holds is cut rather than refused
  bool wideIntegersAsText = false;  // integers wider than 18 characters make text columns
  std::optional<std::string> toCrs;  // the system to transform the coordinates into
  bool append = false;              // the features are added to the layer that is there
};

// Writes the GeoJSON FeatureCollection in the file `in` (standard input for "-") as the shapefile
// layer `out` (with or without ".shp"), or with splitTypes as the layers OUT_point, OUT_multipoint,
// OUT_line, OUT_polygon and OUT_null, those that have features. The file is read twice: first for
// the shape type and the columns, then to write. Throws ConvertError (GeoJsonFeatures.h) with the
// line for the user; an old layer of that name is then as it was.
void geoJsonToShapefile(const std::string& in, const std::string& out,
                        const ShapefileOptions& options);

}  // namespace kelshp
