#include <cstdio>
#include <string>

#include "FeatureCollection.h"
#include "Layers.h"
#include "Selecting.h"
#include "Tool.h"

namespace kelshp {

namespace {

constexpr const char* kUsage =
    "usage: kelshp dump [--raw] [--to-crs CRS | --rfc7946] [--encoding NAME] [SELECTION] PATH\n"
    "\n"
    "Writes the shapefile, or what the selection keeps of it, as GeoJSON to standard\n"
    "output: a FeatureCollection with one Feature per record, in file order. Polygon\n"
    "rings are grouped into polygons with their holes, and a MultiPatch is a\n"
    "MultiPolygon of its triangles and rings. Z values are the third coordinate; M\n"
    "values go into the feature's \"measures\", nested as its coordinates, null for\n"
    "no measure. A null shape has a null geometry; so has a record that cannot be\n"
    "read or that has a coordinate that is NaN or infinite, and its\n"
    "\"kelshp:invalid\" says why.\n"
    "\n"
    "Every record's fields become the feature's properties, typed: numbers, true and\n"
    "false, dates as \"YYYY-MM-DD\", text without its padding, null for a blank or\n"
    "starred value. With --raw every value is the text that lies in the file, blanks\n"
    "kept.\n"
    "\n"
    "The coordinates are as in the file. When its .prj file names a system other\n"
    "than WGS 84, the collection's \"crs\" member names it as GDAL does\n"
    "(\"urn:ogc:def:crs:EPSG::2263\"; its WKT when it has no authority code), with a\n"
    "warning: RFC 7946 readers take every coordinate for WGS 84.\n"
    "\n"
    "  --to-crs CRS  transform the coordinates into CRS: an authority code\n"
    "                (EPSG:4326), WKT or PROJJSON\n"
    "  --rfc7946     transform them into WGS 84 longitudes and latitudes, with no\n"
    "                \"crs\" member\n";

}  // namespace

int runDump(const Args& args) {
  Arguments a = parseArguments(
      args, withSelection({{"raw"}, {"to-crs", 0, true}, {"rfc7946"}}), 1, 1, "PATH");
  if (a.help) return std::fputs(kUsage, stdout), std::fputs(kSelectionUsage, stdout),
         std::fputs(kEncodingHelp, stdout), 0;
  GeoJsonOptions options = geoJsonOptions(a);
  const kel::format::Selection selection = selectionOf(a);
  Warnings warnings;
  std::unique_ptr<kel::format::Layer> layer =
      openLayer(ShapefilePath::parse(a.operands[0]), warnings, openOptions(a));
  if (!layer) return 1;
  GeoJsonCrs crs;
  try {
    crs = geoJsonCrs(layer->projection(), layer->basePath(), options.toCrs, options.rfc7946);
  } catch (const ProjectionError& e) {
    return fail(e.what());
  }
  return printFeatureCollection(*layer, warnings, a.has("raw"), crs, selection);
}

}  // namespace kelshp
