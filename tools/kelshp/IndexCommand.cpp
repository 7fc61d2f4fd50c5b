#include <cstdio>

#include "Layers.h"
#include "Tool.h"
#include "kel/format/LayerWriter.h"
#include "kel/format/SpatialIndex.h"

namespace kelshp {

namespace {

constexpr const char* kUsage =
    "usage: kelshp index PATH\n"
    "\n"
    "Writes the layer's spatial index, a quadtree as shapelib, MapServer and GDAL\n"
    "read it (.qix), in place of any older one, all at once. A box query (GDAL's\n"
    "-spat among them) then reads only the records near the box. PATH is a\n"
    "directory plus name, with or without .shp.\n";

}  // namespace

int runIndex(const Args& args) {
  Arguments a = parseArguments(args, {}, 1, 1, "PATH");
  if (a.help) return std::fputs(kUsage, stdout), 0;
  ShapefilePath path = ShapefilePath::parse(a.operands[0]);
  Warnings warnings;
  std::unique_ptr<kel::format::Layer> layer = openLayer(path, warnings);
  if (!layer) return 1;
  try {
    kel::format::writeQuadTreeIndex(*layer);
  } catch (const kel::format::WriteError& e) {
    return fail(e.what());
  }
  return 0;
}

}  // namespace kelshp
