#pragma once

#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "kel/shapefile/Shapefile.h"

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

// A command's arguments that cannot be taken: main() says why, points to the command's --help
// and exits with status 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// An option a command takes: "--name", "--name VALUE" or "--name=VALUE", and "-c" for a letter.
struct OptionSpec {
  const char* name;
  char letter = 0;  // none: the long form only
  bool takesValue = false;
};

// A command line read by getopt_long: options may come anywhere before "--", which ends them.
struct Arguments {
  bool help = false;                         // --help or -h: the rest is not looked at
  std::map<std::string, std::string> given;  // option name -> value ("" for a flag)
  Args operands;

  bool has(const std::string& name) const { return given.contains(name); }
  // The option's value as a number within [low, high], or `otherwise` when not given.
  double number(const std::string& name, double low, double high, double otherwise) const;
};

// Reads the arguments of a command that takes the options and between `least` and `most`
// operands (named `what` in the sentences: "PATH", "SRC DST"); throws UsageError otherwise.
Arguments parseArguments(const Args& args, const std::vector<OptionSpec>& options,
                         std::size_t least, std::size_t most, const char* what);

int runDemo(const Args& args);
int runInfo(const Args& args);
int runIndex(const Args& args);
int runDump(const Args& args);
int runCopy(const Args& args);
int runConvert(const Args& args);
int runRender(const Args& args);
int runCheck(const Args& args);
int runTypelib(const Args& args);

}  // namespace kelshp
