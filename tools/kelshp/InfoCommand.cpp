#include <cstdio>

#include "Output.h"
#include "Tool.h"
#include "runtime/Text.h"

namespace kelshp {

namespace {

constexpr const char* kUsage =
    "usage: kelshp info PATH\n"
    "\n"
    "Prints a shapefile's shape type, record count, whole-file extents and columns\n"
    "(name, type, width, precision). PATH is a directory plus name, with or without .shp.\n";

}  // namespace

int runInfo(const Args& args) {
  if (wantsHelp(args)) return std::fputs(kUsage, stdout), 0;
  if (args.size() != 1) return std::fputs(kUsage, stderr), 2;
  ShapefilePath path = ShapefilePath::parse(args[0]);
  kel::Ref<kel::Shapefile> file = load(path);
  if (!file) return 1;

  kel::Ref<kel::BoundingBox> extent = file->get_BoundingBox();
  const kel::BoundingBox& box = kel::deref(extent);
  std::printf("%s\n", visible(path.file(".shp")).c_str());
  std::printf("  shape type  %s\n", shapeTypeName(file->get_ShapeType()).c_str());
  std::printf("  records     %d\n", file->get_ShapeObjectCount());
  std::printf("  extent      (%s, %s) - (%s, %s)\n", number(box.get_xMin()).c_str(),
              number(box.get_yMin()).c_str(), number(box.get_xMax()).c_str(),
              number(box.get_yMax()).c_str());
  kel::Ref<kel::TableDescription> description = file->get_TableDescription();
  const kel::TableDescription& table = kel::deref(description);
  std::printf("  columns     %d\n", table.get_DescriptorCount());
  for (std::int16_t i = 1; i <= table.get_DescriptorCount(); ++i) {
    kel::Ref<kel::TableDescriptor> held = table.getTableDescriptorByIndex(i);
    const kel::TableDescriptor& column = kel::deref(held);
    std::printf("    %-12s %-10s width %-3d precision %d\n",
                visible(kel::toUtf8(column.get_name())).c_str(),
                fieldTypeName(column.get_fieldType()).c_str(), column.get_width(),
                column.get_precision());
  }
  return 0;
}

}  // namespace kelshp
