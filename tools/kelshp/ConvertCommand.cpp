#include <cstdio>
#include <string>

#include "FeatureCollection.h"
#include "GeoJsonFeatures.h"
#include "GeoJsonToShapefile.h"
#include "Layers.h"
#include "Output.h"
#include "Progress.h"
#include "Projection.h"
#include "Selecting.h"
#include "Tool.h"
#include "kel/archive/Archive.h"
#include "kel/runtime/Text.h"

namespace kelshp {

namespace {

constexpr const char* kUsage =
    "usage: kelshp convert [--to-crs CRS] [--split-types | --append] [--cut]\n"
    "                      [--wide-integers-as-text] IN OUT\n"
    "       kelshp convert [--to-crs CRS | --rfc7946] [--encoding NAME] [SELECTION]\n"
    "                      IN.shp OUT\n"
    "\n"
    "Converts a shapefile to GeoJSON or GeoJSON to a shapefile; the extensions tell\n"
    "which way (letter case ignored):\n"
    "\n"
    "  IN.shp, IN.zip or IN.zip/inner/name.shp (a layer in a zip archive) ->\n"
    "    OUT.geojson, OUT.json or - (standard output): the FeatureCollection\n"
    "    that 'kelshp dump' prints, with its \"crs\" member. The file is written\n"
    "    whole under a temporary name and then renamed, or not at all.\n"
    "\n"
    "  IN.geojson, IN.json or - (standard input) -> OUT.shp (or OUT without\n"
    "    extension): an RFC 7946 FeatureCollection as a shapefile layer (.shp, .shx,\n"
    "    .dbf, a .cpg saying UTF-8 and a .prj); IN must be a regular file, or - for\n"
    "    standard input, which is copied first. The .prj file describes the system\n"
    "    that the collection's \"crs\" member names; without one, WGS 84 when every\n"
    "    coordinate can be a longitude and latitude (|x| <= 180 and |y| <= 90), else\n"
    "    none, with a warning. The shape type follows the geometries: Point,\n"
    "    MultiPoint, PolyLine for LineString and MultiLineString,\n"
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
    "    OUT.zip: the layer (or, with --split-types, the layers) in a new zip\n"
    "    archive, named as the archive without .zip, which replaces any old one whole.\n"
    "\n"
    "  --to-crs CRS   transform the coordinates into CRS (an authority code such\n"
    "                 as EPSG:4326, WKT or PROJJSON), either way\n"
    "  --rfc7946      shapefile to GeoJSON: transform the coordinates into WGS 84,\n"
    "                 with no \"crs\" member\n"
    "\n"
    "Features are counted from 1 in the messages. Mixed shape types are refused, as\n"
    "are text of more than 254 bytes, wider integers and values of two kinds in one\n"
    "property.\n"
    "\n"
    "  --split-types  write one layer for each shape type: OUT_point, OUT_multipoint,\n"
    "                 OUT_line, OUT_polygon, and OUT_null for features without geometry\n"
    "  --append       add the features after the records of the layer OUT, which must\n"
    "                 have their shape type and, in the same order, their properties\n"
    "                 as columns (letter case aside) of the types they would get;\n"
    "                 the layer keeps its widths, encoding and .prj. Until the last\n"
    "                 feature is written the layer is as it was, and a failure or a\n"
    "                 kill at any point leaves it so; its spatial index goes\n"
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
  return endsWith(path, u".shp") || (!name.empty() && name.find('.') == std::string::npos) ||
         kel::archive::archiveOf(path).has_value();
}

// The layer as the FeatureCollection that dump prints, into a file that appears whole or not at
// all, or onto standard output.
int shapefileToGeoJson(const std::string& in, const std::string& out,
                       const GeoJsonOptions& options, const kel::format::OpenOptions& read,
                       const kel::format::Selection& selection) {
  Warnings warnings;
  std::unique_ptr<kel::format::Layer> layer = openLayer(ShapefilePath::parse(in), warnings, read);
  if (!layer) return 1;
  GeoJsonCrs crs = geoJsonCrs(layer->projection(), layer->basePath(), options.toCrs,
                              options.rfc7946);
  Progress progress;
  std::string step = "writing " + out;
  auto tick = [&](std::int64_t done) { progress.update(step, done, layer->count()); };
  if (out == "-") return printFeatureCollection(*layer, warnings, false, crs, selection, tick);

  WholeFile file(out);
  writeFeatureCollection(
      *layer, warnings, false, crs, selection,
      [&](std::string_view text) { file.append(text); }, tick);
  progress.clear();
  file.commit();
  return 0;
}

}  // namespace

int runConvert(const Args& args) {
  Arguments a = parseArguments(args,
                               withSelection({{"split-types"},
                                              {"append"},
                                              {"cut"},
                                              {"wide-integers-as-text"},
                                              {"to-crs", 0, true},
                                              {"rfc7946"}}),
                               2, 2, "IN OUT");
  if (a.help) return std::fputs(kUsage, stdout), std::fputs(kSelectionUsage, stdout),
         std::fputs(kEncodingHelp, stdout), 0;
  GeoJsonOptions geoJson = geoJsonOptions(a);
  const kel::format::Selection selection = selectionOf(a);
  const kel::format::OpenOptions read = openOptions(a);
  ShapefileOptions options;
  options.splitTypes = a.has("split-types");
  options.cut = a.has("cut");
  options.wideIntegersAsText = a.has("wide-integers-as-text");
  options.toCrs = geoJson.toCrs;
  options.append = a.has("append");
  if (options.append && options.splitTypes) {
    throw UsageError("--append adds to one layer; --split-types writes several");
  }
  const std::string &in = a.operands[0], &out = a.operands[1];
  try {
    if ((isGeoJson(in) || in == "-") && out != "-" && isShapefile(out)) {
      if (geoJson.rfc7946) {
        warn("convert: --rfc7946 is for shapefile to GeoJSON");
        return 2;
      }
      if (a.has("encoding")) {
        warn("convert: --encoding is for shapefile to GeoJSON; GeoJSON text is UTF-8");
        return 2;
      }
      if (!selection.all()) {
        warn("convert: --bbox, --select, --where and --rows are for a shapefile to GeoJSON");
        return 2;
      }
      if (kel::archive::endsInZip(out)) {
        kel::archive::ArchiveDraft draft(out);
        geoJsonToShapefile(in, draft.layerPath(), options);
        draft.commit();
      } else {
        geoJsonToShapefile(in, out, options);
      }
      return 0;
    }
    if (isShapefile(in) && (out == "-" || isGeoJson(out))) {
      if (options.splitTypes || options.cut || options.wideIntegersAsText || options.append) {
        warn(
            "convert: --split-types, --append, --cut and --wide-integers-as-text are for GeoJSON "
            "to shapefile");
        return 2;
      }
      return shapefileToGeoJson(in, out, geoJson, read, selection);
    }
  } catch (const std::exception& e) {  // ConvertError, or a file that cannot be written
    return fail(e.what());
  }
  warn("convert: " + in + " to " + out +
       ": converts IN.geojson, IN.json or - to OUT.shp, or IN.shp to OUT.geojson, OUT.json or -");
  return 2;
}

}  // namespace kelshp
