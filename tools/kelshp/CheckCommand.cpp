#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Output.h"
#include "Tool.h"
#include "kel/format/Layer.h"
#include "kel/format/Validator.h"
#include "kel/runtime/FileSystem.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/ReadContract.h"

namespace kelshp {

namespace {

namespace fmt = kel::format;

constexpr const char* kUsage =
    "usage: kelshp check PATH\n"
    "\n"
    "Reads the three files of a shapefile, every record, row and value, and reports one line\n"
    "a finding, '<file>: offset N: <what> (error)' or '(irregular)':\n"
    "  error      the format's reader cannot read the bytes, or the library's object model\n"
    "             refuses the file (a shape type it does not read, a null shape, a table\n"
    "             whose row count differs from the shape count, ...);\n"
    "  irregular  the bytes are read, but not as the format has them (lengths that disagree,\n"
    "             index entries that miss their records, boxes that differ from the points,\n"
    "             a column of width 0, deleted rows, bytes behind the last record, ...), or\n"
    "             the object model reads them otherwise (part starts, column types).\n"
    "A place (a file and an offset) gets one line, its most severe finding. A missing file\n"
    "is said on standard error; the files that are there are still checked. Notes on how\n"
    "the files were read (the table's encoding, an index walked around) are not shown.\n"
    "0 errors means that the library reads the shapefile.\n"
    "Exits 0 for a regular shapefile, 1 when anything was reported.\n";

int rank(fmt::Severity s) {
  return s == fmt::Severity::Error ? 2 : s == fmt::Severity::Irregularity ? 1 : 0;
}

// Whether findings at the same place stand for one another: at an offset, or on a whole file
// when they are errors (a missing file, one too short for its header).
bool sharesPlace(const fmt::Finding& f) {
  return f.offset >= 0 || f.severity == fmt::Severity::Error;
}

struct Tally {
  int errors = 0;
  int irregularities = 0;
};

// Prints each place's most severe finding (the first of them), in the order the findings came;
// a missing file once, on standard error.
Tally print(const std::vector<fmt::Finding>& findings) {
  std::map<std::pair<std::string, std::int64_t>, std::size_t> standing;
  for (std::size_t i = 0; i < findings.size(); ++i) {
    const fmt::Finding& f = findings[i];
    if (f.severity == fmt::Severity::Note || !sharesPlace(f)) continue;
    auto [at, fresh] = standing.try_emplace({f.file, f.offset}, i);
    if (!fresh && rank(f.severity) > rank(findings[at->second].severity)) at->second = i;
  }
  Tally tally;
  for (std::size_t i = 0; i < findings.size(); ++i) {
    const fmt::Finding& f = findings[i];
    if (f.severity == fmt::Severity::Note) continue;
    if (sharesPlace(f) && standing[{f.file, f.offset}] != i) continue;
    bool error = f.severity == fmt::Severity::Error;
    ++(error ? tally.errors : tally.irregularities);
    if (f.missingFile) {
      warn(f.file + ": no such file");
    } else {
      std::printf("%s (%s)\n", visible(fmt::describe(f)).c_str(), error ? "error" : "irregular");
    }
  }
  return tally;
}

}  // namespace

int runCheck(const Args& args) {
  Arguments a = parseArguments(args, {}, 1, 1, "PATH");
  if (a.help) return std::fputs(kUsage, stdout), 0;
  ShapefilePath path = ShapefilePath::parse(a.operands[0]);
  fmt::CollectingReporter findings;
  // The main file as the library finds it, letter case aside; its siblings beside it.
  std::string shp = kel::nativePath(kel::toUtf16(path.file(".shp")));
  if (std::unique_ptr<fmt::Layer> layer = fmt::Layer::open(shp, findings)) {
    fmt::validate(*layer, findings);
  }
  kel::checkReadContract(path.basepath, path.filename, findings);
  Tally tally = print(findings.findings);
  if (tally.errors + tally.irregularities == 0) {
    std::printf("%s: regular\n", visible(path.stem).c_str());
    return 0;
  }
  std::printf("%s: %d errors, %d irregularities\n", visible(path.stem).c_str(), tally.errors,
              tally.irregularities);
  return 1;
}

}  // namespace kelshp
