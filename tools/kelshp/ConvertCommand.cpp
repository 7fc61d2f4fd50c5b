#include <cstdio>
#include <string>

#include "FeatureCollection.h"
#include "GeoJsonFeatures.h"
#include "GeoJsonToShapefile.h"
#include "Layers.h"
#include "Output.h"
#include "Progress.h"
#include "Tool.h"
#include "kel/runtime/Text.h"

namespace kelshp {

namespace {

constexpr const char* kUsage =
    "usage: kelshp convert [--split-types] [--cut] [--wide-integers-as-text]\n"
    "                      [--encoding NAME] IN OUT\n"
    "\n"
    "Converts a shapefile to GeoJSON or GeoJSON to a shapefile; the extensions tell\n"
    "which way (letter case ignored):\n"
    "\n"
    "  IN.shp -> OUT.geojson, OUT.json or - (standard output): the FeatureCollection\n"
    "    that 'kelshp dump' prints. The file is written whole under a temporary name\n"
    "    and then renamed, or not at all.\n"
    "\n"
    "  IN.geojson, IN.json or - (standard input) -> OUT.shp (or OUT without\n"
    "    extension): an RFC 7946 FeatureCollection as a shapefile layer (.shp, .shx,\n"
    "    .dbf, a .cpg saying UTF-8 and a .prj for WGS 84); IN must be a regular file,\n"
    "    or - for standard input, which is copied first. The shape type follows the\n"
    "    geometries: Point, MultiPoint, PolyLine for LineString and MultiLineString,\n"
    "    Polygon for Polygon and MultiPolygon, each the Z type when a position has a\n"
    "    third value (the others get Z 0); Points among MultiPoints are MultiPoints of\n"
    "    one; a null geometry is a null shape. Rings are closed where open, and turned\n"
    "    to run clockwise round areas and counter-clockwise round holes. A column for\n"
    "    each property, typed by its values: integers N (at most 18 characters), other\n"
    "    numbers N with the decimals that read each back as the same double, text C as\n"
    "    wide as its longest value in UTF-8 bytes (at most 254), text that is all dates\n"
    "    YYYY-MM-DD D, true and false L.\n"
    "    A name longer than 10 bytes, or one taken (letter case ignored), is cut to 10,\n"
    "    or to 8 with _1 to _9 or 10 to 99 after it, as GDAL does, and said. The old\n"
    "    layer of that name is replaced only when the whole layer is written.\n"
    "\n"
    "Features are counted from 1 in the messages. Mixed shape types are refused, as\n"
    "are text of more than 254 bytes, wider integers and values of two kinds in one\n"
    "property.\n"
    "\n"
    "  --split-types  write one layer for each shape type: OUT_point, OUT_multipoint,\n"
    "                 OUT_line, OUT_polygon, and OUT_null for features without geometry\n"
    "  --cut          cut text longer than 254 bytes after its last whole character\n"
    "  --wide-integers-as-text\n"
    "                 write a property with integers wider than 18 characters as a\n"
    "                 text column rather than refuse it\n"
    "  --encoding NAME\n"
    "                 for IN.shp: read its table's text in NAME (see below)\n";

bool endsWith(const std::string& path, std::u16string_view extension) {
  std::u16string name = kel::toUtf16(path.substr(path.find_last_of('/') + 1));
  return name.size() > extension.size() &&
         kel::equalsIgnoringCase(std::u16string_view(name).substr(name.size() - extension.size()),
                                 extension);
}

bool isGeoJson(const std::string& path) {
  return endsWith(path, u".geojson") || endsWith(path, u".json");
}

bool isShapefile(const std::string& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  return endsWith(path, u".shp") || (!name.empty() && name.find('.') == std::string::npos);
}

// The layer as the FeatureCollection that dump prints, into a file that appears whole or not at
// all, or onto standard output.
int shapefileToGeoJson(const std::string& in, const std::string& out,
                       const kel::format::OpenOptions& read) {
  Warnings warnings;
  std::unique_ptr<kel::format::Layer> layer = openLayer(ShapefilePath::parse(in), warnings, read);
  if (!layer) return 1;
  Progress progress;
  std::string step = "writing " + out;
  auto tick = [&](std::int64_t done) { progress.update(step, done, layer->count()); };
  if (out == "-") return printFeatureCollection(*layer, warnings, false, tick);

  WholeFile file(out);
  writeFeatureCollection(
      *layer, warnings, false, [&](std::string_view text) { file.append(text); }, tick);
  progress.clear();
  file.commit();
  return 0;
}

}  // namespace

int runConvert(const Args& args) {
  Arguments a = parseArguments(
      args, {{"split-types"}, {"cut"}, {"wide-integers-as-text"}, kEncodingOption}, 2, 2, "IN OUT");
  if (a.help) return std::fputs(kUsage, stdout), std::fputs(kEncodingHelp, stdout), 0;
  const kel::format::OpenOptions read = openOptions(a);
  ShapefileOptions options;
  options.splitTypes = a.has("split-types");
  options.cut = a.has("cut");
  options.wideIntegersAsText = a.has("wide-integers-as-text");
  const std::string &in = a.operands[0], &out = a.operands[1];
  try {
    if ((isGeoJson(in) || in == "-") && out != "-" && isShapefile(out)) {
      if (a.has("encoding")) {
        warn("convert: --encoding is for shapefile to GeoJSON; GeoJSON text is UTF-8");
        return 2;
      }
      geoJsonToShapefile(in, out, options);
      return 0;
    }
    if (isShapefile(in) && (out == "-" || isGeoJson(out))) {
      if (options.splitTypes || options.cut || options.wideIntegersAsText) {
        warn(
            "convert: --split-types, --cut and --wide-integers-as-text are for GeoJSON to "
            "shapefile");
        return 2;
      }
      return shapefileToGeoJson(in, out, read);
    }
  } catch (const std::exception& e) {  // ConvertError, or a file that cannot be written
    return fail(e.what());
  }
  warn("convert: " + in + " to " + out +
       ": converts IN.geojson, IN.json or - to OUT.shp, or IN.shp to OUT.geojson, OUT.json or -");
  return 2;
}

}  // namespace kelshp
