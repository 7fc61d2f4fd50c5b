#include <cstdio>

#include "Tool.h"

namespace kelshp {

namespace {

constexpr const char* kUsage =
    "usage: kelshp copy SRC DST\n"
    "\n"
    "Reads the shapefile SRC through the library and writes it as DST (three files:\n"
    ".shp, .shx and .dbf; old files of that name are replaced). Exits 0 only when both\n"
    "the read and the write succeed.\n";

}  // namespace

int runCopy(const Args& args) {
  if (wantsHelp(args)) return std::fputs(kUsage, stdout), 0;
  if (args.size() != 2) return std::fputs(kUsage, stderr), 2;
  kel::Ref<kel::Shapefile> file = load(ShapefilePath::parse(args[0]));
  if (!file) return 1;
  ShapefilePath target = ShapefilePath::parse(args[1]);
  std::u16string basepath = target.basepath;
  std::u16string filename = target.filename;
  if (!file->writeShapefile(basepath, filename)) {
    return fail(target.file(".shp") + ": the library could not write this shapefile");
  }
  return 0;
}

}  // namespace kelshp
