#pragma once

#include <string>
#include <vector>

#include "shapefile/Shapefile.h"

// What the commands of kelshp share: how a path on the command line names a shapefile, loading
// one with a one-line report of what went wrong, and the commands themselves.
namespace kelshp {

using Args = std::vector<std::string>;

// A shapefile named on the command line: a directory plus a name, with or without ".shp".
struct ShapefilePath {
  std::string stem;  // absolute, without the extension: "/data/roads"
  std::u16string basepath;
  std::u16string filename;

  static ShapefilePath parse(const std::string& argument);
  std::string file(const char* extension) const { return stem + extension; }
};

// Reports a failure in one line on standard error, "kelshp: <what>", and gives exit status 1. The
// text is shown as visible() shows it: paths and names in it may hold anything.
int fail(const std::string& what);
// The same line for a command that goes on: a warning.
void warn(const std::string& what);

// Reads a shapefile through the library. On failure it reports the library's reason (the file,
// the offset and what is wrong) and returns null.
kel::Ref<kel::Shapefile> load(const ShapefilePath& path);

// "PolyLine (3)", "Character", ...
std::string shapeTypeName(std::int32_t type);
std::string fieldTypeName(std::int32_t type);

// Whether the arguments ask for help.
bool wantsHelp(const Args& args);

int runDemo(const Args& args);
int runInfo(const Args& args);
int runDump(const Args& args);
int runCopy(const Args& args);
int runConvert(const Args& args);
int runRender(const Args& args);
int runCheck(const Args& args);
int runTypelib(const Args& args);

}  // namespace kelshp
