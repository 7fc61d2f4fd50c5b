#include "Tool.h"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "Output.h"
#include "runtime/FileSystem.h"
#include "runtime/Text.h"

namespace kelshp {

ShapefilePath ShapefilePath::parse(const std::string& argument) {
  std::string absolute = std::filesystem::absolute(argument).lexically_normal().string();
  std::size_t slash = absolute.rfind('/');
  std::string directory = absolute.substr(0, slash + 1);
  std::string name = absolute.substr(slash + 1);
  // The library drops ".shp" in any letter case; the tool names files the same way.
  if (name.size() >= 4 &&
      kel::equalsIgnoringCase(kel::toUtf16(name.substr(name.size() - 4)), u".shp")) {
    name.resize(name.size() - 4);
  }
  return {directory + name, kel::toUtf16(directory), kel::toUtf16(name)};
}

void warn(const std::string& what) {
  std::fprintf(stderr, "kelshp: %s\n", visible(what).c_str());
}

int fail(const std::string& what) {
  warn(what);
  return 1;
}

kel::Ref<kel::Shapefile> load(const ShapefilePath& path) {
  // A missing file is named as the command line named it, whatever bytes its name holds.
  for (const char* extension : {".shp", ".shx", ".dbf"}) {
    if (kel::findFile(kel::toUtf16(path.file(extension))).empty()) {
      fail(path.file(extension) + ": no such file");
      return nullptr;
    }
  }
  auto shapefile = kel::makeRef<kel::Shapefile>();
  std::u16string basepath = path.basepath;
  std::u16string filename = path.filename;
  if (!shapefile->readShapefile(basepath, filename)) {
    const std::optional<kel::format::Finding>& why = shapefile->lastFailure();
    fail(why ? kel::format::describe(*why) : path.file(".shp") + ": the library cannot read it");
    return nullptr;
  }
  return shapefile;
}

std::string shapeTypeName(std::int32_t type) {
  switch (type) {
    case kel::kelUndefined:
      return "Undefined (0)";
    case kel::kelPoint:
      return "Point (1)";
    case kel::kelPolyLine:
      return "PolyLine (3)";
    case kel::kelPolygon:
      return "Polygon (5)";
    case kel::kelMultiPoint:
      return "MultiPoint (8)";
    default:
      return "unsupported (" + std::to_string(type) + ")";
  }
}

std::string fieldTypeName(std::int32_t type) {
  switch (type) {
    case kel::kelFieldTypeCharacter:
      return "Character";
    case kel::kelFieldTypeDate:
      return "Date";
    case kel::kelFieldTypeLogical:
      return "Logical";
    case kel::kelFieldTypeNumber:
      return "Number";
    default:
      return "type " + std::to_string(type);
  }
}

bool wantsHelp(const Args& args) {
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") return true;
  }
  return false;
}

}  // namespace kelshp
