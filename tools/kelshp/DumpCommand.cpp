#include <cstdio>
#include <string>

#include "FeatureCollection.h"
#include "Layers.h"
#include "Tool.h"

namespace kelshp {

namespace {

constexpr const char* kUsage =
    "usage: kelshp dump [--raw] [--encoding NAME] PATH\n"
    "\n"
    "Writes the whole shapefile as RFC 7946 GeoJSON to standard output: a\n"
    "FeatureCollection with one Feature per record, in file order. Polygon rings are\n"
    "grouped into polygons with their holes, and a MultiPatch is a MultiPolygon of its\n"
    "triangles and rings. Z values are the third coordinate; M values go into the\n"
    "feature's \"measures\", nested as its coordinates, null for no measure. A null\n"
    "shape has a null geometry; so has a record that cannot be read or that has a\n"
    "coordinate that is NaN or infinite, and its \"kelshp:invalid\" says why.\n"
    "\n"
    "Every record's fields become the feature's properties, typed: numbers, true and\n"
    "false, dates as \"YYYY-MM-DD\", text without its padding, null for a blank or\n"
    "starred value. With --raw every value is the text that lies in the file, blanks\n"
    "kept.\n";

}  // namespace

int runDump(const Args& args) {
  Arguments a = parseArguments(args, {{"raw"}, kEncodingOption}, 1, 1, "PATH");
  if (a.help) return std::fputs(kUsage, stdout), std::fputs(kEncodingHelp, stdout), 0;
  Warnings warnings;
  std::unique_ptr<kel::format::Layer> layer =
      openLayer(ShapefilePath::parse(a.operands[0]), warnings, openOptions(a));
  if (!layer) return 1;
  return printFeatureCollection(*layer, warnings, a.has("raw"));
}

}  // namespace kelshp
