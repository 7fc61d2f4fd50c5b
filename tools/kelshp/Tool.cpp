#include "Tool.h"

#include <getopt.h>

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "Output.h"
#include "kel/runtime/FileSystem.h"
#include "kel/runtime/Text.h"

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

Arguments parseArguments(const Args& args, const std::vector<OptionSpec>& options,
                         std::size_t least, std::size_t most, const char* what) {
  Arguments parsed;
  std::vector<option> table;
  std::string letters = ":h";  // ':' first: a missing value is told apart from an unknown option
  constexpr int kLongOnly = 256;
  for (const OptionSpec& o : options) {
    int key = o.letter != 0 ? o.letter : kLongOnly + static_cast<int>(table.size());
    table.push_back({o.name, o.takesValue ? required_argument : no_argument, nullptr, key});
    if (o.letter != 0) letters += std::string(1, o.letter) + (o.takesValue ? ":" : "");
  }
  table.push_back({"help", no_argument, nullptr, 'h'});
  table.push_back({nullptr, 0, nullptr, 0});

  std::vector<std::string> copies = args;
  std::vector<char*> argv = {const_cast<char*>("kelshp")};
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  opterr = 0;  // the sentences are ours
  optind = 0;  // a fresh start, as for a program of its own
  const int argc = static_cast<int>(argv.size() - 1);
  for (int index = -1, key;
       (key = getopt_long(argc, argv.data(), letters.c_str(), table.data(), &index)) != -1;
       index = -1) {
    const std::string seen = argv[optind - 1] != nullptr ? argv[optind - 1] : "";
    if (key == 'h') {
      parsed.help = true;
      return parsed;
    }
    if (key == '?') {
      // A letter's own, or the argument as given: getopt_long tells a flag given a value
      // ("--raw=3") by that flag's key.
      bool letter = optopt > 0 && optopt < kLongOnly && seen.rfind("--", 0) != 0;
      std::string shown = letter ? "-" + std::string(1, static_cast<char>(optopt)) : seen;
      if (std::size_t equals = seen.find('='); !letter && optopt != 0 && equals != seen.npos) {
        throw UsageError(visible(seen.substr(0, equals)) + " takes no value");
      }
      throw UsageError("there is no option " + visible(shown.substr(0, shown.find('='))));
    }
    if (key == ':') {
      std::string shown = optopt != 0 && optopt < kLongOnly
                              ? "-" + std::string(1, static_cast<char>(optopt))
                              : seen;
      throw UsageError(visible(shown) + " needs a value");
    }
    const OptionSpec* chosen = nullptr;
    for (const OptionSpec& o : options) {
      int k = o.letter != 0 ? o.letter : kLongOnly + static_cast<int>(&o - options.data());
      if (k == key) chosen = &o;
    }
    if (chosen == nullptr) throw UsageError("there is no option " + visible(seen));
    parsed.given[chosen->name] = optarg != nullptr ? optarg : "";
  }
  for (int i = optind; i < argc; ++i) parsed.operands.push_back(argv[i]);
  std::size_t n = parsed.operands.size();
  if (n < least || n > most) {
    throw UsageError(
        "the command takes " + std::string(what) + "; " +
        (n == 0 ? std::string("nothing") : std::to_string(n) + " operand" + (n == 1 ? "" : "s")) +
        " given");
  }
  return parsed;
}

double Arguments::number(const std::string& name, double low, double high, double otherwise) const {
  auto found = given.find(name);
  if (found == given.end()) return otherwise;
  const std::string& text = found->second;
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
    throw UsageError("--" + name + " takes a number; " + visible("'" + text + "'") + " is none");
  }
  auto shown = [](double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", v);
    return std::string(text);
  };
  if (!(value >= low && value <= high)) {
    throw UsageError("--" + name + " takes a number from " + shown(low) + " to " + shown(high) +
                     "; " + text + " is out of that range");
  }
  return value;
}

}  // namespace kelshp
