#include <cstdio>

#include "Layers.h"
#include "Output.h"
#include "Projection.h"
#include "Tool.h"
#include "kel/archive/Archive.h"

namespace kelshp {

namespace {

namespace format = kel::format;

constexpr const char* kUsage =
    "usage: kelshp info [--encoding NAME] PATH\n"
    "\n"
    "Prints a shapefile's shape type, record count, whole-file extents (and Z and M\n"
    "ranges, for the types that have them), the encoding of its text, whether it has\n"
    "a .prj file and the coordinate reference system it describes (its name, and\n"
    "its authority code when PROJ identifies it), and its columns (name, type,\n"
    "width, precision). PATH is a directory plus name, with or without .shp.\n";

std::string columnTypeName(std::uint8_t letter) {
  std::string_view name = format::columnTypeName(letter);
  return name.empty() ? "type " + visible(std::string(1, static_cast<char>(letter)))
                      : std::string(name);
}

}  // namespace

int runInfo(const Args& args) {
  Arguments a = parseArguments(args, {kEncodingOption}, 1, 1, "PATH");
  if (a.help) return std::fputs(kUsage, stdout), std::fputs(kEncodingHelp, stdout), 0;
  ShapefilePath path = ShapefilePath::parse(a.operands[0]);
  Warnings warnings;
  std::unique_ptr<format::Layer> layer = openLayer(path, warnings, openOptions(a));
  if (!layer) return 1;

  const format::MainHeader& h = layer->shapes().header();
  std::optional<format::ShapeTypeTraits> traits = format::traitsOf(h.shapeType);
  // A layer in an archive by its member's name.
  const bool inArchive = kel::archive::archiveOf(path.stem).has_value();
  std::printf("%s\n", visible(inArchive ? layer->shapes().path() : path.file(".shp")).c_str());
  std::printf("  shape type  %s\n", layerTypeName(h.shapeType).c_str());
  std::printf("  records     %lld\n", static_cast<long long>(layer->count()));
  std::printf("  extent      (%s, %s) - (%s, %s)\n", number(h.xMin).c_str(), number(h.yMin).c_str(),
              number(h.xMax).c_str(), number(h.yMax).c_str());
  if (traits && traits->z) {
    std::printf("  z range     %s - %s\n", number(h.zMin).c_str(), number(h.zMax).c_str());
  }
  if (traits && traits->m) {
    std::printf("  m range     %s - %s\n", number(h.mMin).c_str(), number(h.mMax).c_str());
  }
  std::printf("  encoding    %s\n", layer->encoding().c_str());
  const std::optional<std::string>& prj = layer->projection();
  std::printf("  projection  %s\n", prj ? visible(describePrj(*prj)).c_str() : "none");
  format::TableReader* table = layer->table();
  std::size_t columns = table ? table->columns().size() : 0;
  std::printf("  columns     %zu\n", columns);
  for (std::size_t i = 0; i < columns; ++i) {
    const format::Column& c = table->columns()[i];
    std::printf("    %-12s %-10s width %-3d precision %d\n", visible(c.name).c_str(),
                columnTypeName(c.descriptor.type).c_str(), c.descriptor.width,
                c.descriptor.decimals);
  }
  return 0;
}

}  // namespace kelshp
