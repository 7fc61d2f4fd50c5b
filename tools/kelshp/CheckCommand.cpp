#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <tuple>
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
  std::int64_t errors = 0;
  std::int64_t irregularities = 0;
};

// The findings that check prints, as the readers report them: the notes dropped, a place's most
// severe finding (the first of them), and of each kind of finding the first kKept, the rest
// counted. A kind is the file, the severity and the sentence with its numbers left out; past
// kKinds kinds, a file's further ones count as one. Memory so holds a bounded number of findings
// whatever the files claim (an index of millions of entries that all miss their records).
class Findings final : public fmt::Reporter {
 public:
  static constexpr std::size_t kKept = 100;
  static constexpr std::size_t kKinds = 200;

  void report(const fmt::Finding& f) override {
    if (f.severity == fmt::Severity::Note) return;
    bool placed = sharesPlace(f);
    if (placed) {
      if (auto at = places_.find({f.file, f.offset}); at != places_.end()) {
        if (rank(f.severity) > rank(kept_[at->second].severity)) kept_[at->second] = f;
        return;
      }
    }
    Kind& kind = kindOf(f);
    if (kind.kept == kKept) {
      ++kind.more;
      return;
    }
    ++kind.kept;
    if (placed) places_.emplace(std::pair(f.file, f.offset), kept_.size());
    kept_.push_back(f);
  }

  // Prints each finding kept, in the order they came, and then how many more of each kind there
  // were; a missing file once, on standard error.
  Tally print() const {
    Tally tally;
    auto count = [&](fmt::Severity s, std::int64_t n) {
      (s == fmt::Severity::Error ? tally.errors : tally.irregularities) += n;
    };
    for (const fmt::Finding& f : kept_) {
      count(f.severity, 1);
      if (f.missingFile) {
        warn(f.file + ": no such file");
      } else {
        std::printf("%s (%s)\n", visible(fmt::describe(f)).c_str(), word(f.severity));
      }
    }
    for (const auto& [key, kind] : kinds_) {
      if (kind.more == 0) continue;
      count(kind.severity, kind.more);
      std::printf("%s: and %lld more: %s (%s)\n", visible(kind.file).c_str(),
                  static_cast<long long>(kind.more), visible(kind.shape).c_str(),
                  word(kind.severity));
    }
    return tally;
  }

 private:
  struct Kind {
    std::string file;
    fmt::Severity severity;
    std::string shape;  // the sentence with "N" for each number
    std::size_t kept = 0;
    std::int64_t more = 0;
  };

  static const char* word(fmt::Severity s) {
    return s == fmt::Severity::Error ? "error" : "irregular";
  }

  Kind& kindOf(const fmt::Finding& f) {
    std::string shape;
    for (std::size_t i = 0; i < f.sentence.size(); ++i) {
      bool digit = std::isdigit(static_cast<unsigned char>(f.sentence[i])) != 0;
      if (!digit) {
        shape += f.sentence[i];
      } else if (i == 0 || !std::isdigit(static_cast<unsigned char>(f.sentence[i - 1]))) {
        shape += 'N';
      }
    }
    std::size_t& ofFile = kindsOfFile_[{f.file, f.severity}];
    if (ofFile == kKinds) shape = "findings of other kinds";
    std::tuple<std::string, fmt::Severity, std::string> key{f.file, f.severity, shape};
    auto [at, fresh] = kinds_.try_emplace(std::move(key), Kind{f.file, f.severity, shape});
    if (fresh && ofFile < kKinds) ++ofFile;
    return at->second;
  }

  std::vector<fmt::Finding> kept_;
  std::map<std::pair<std::string, std::int64_t>, std::size_t> places_;  // of findings kept
  std::map<std::tuple<std::string, fmt::Severity, std::string>, Kind> kinds_;
  std::map<std::pair<std::string, fmt::Severity>, std::size_t> kindsOfFile_;
};

}  // namespace

int runCheck(const Args& args) {
  Arguments a = parseArguments(args, {}, 1, 1, "PATH");
  if (a.help) return std::fputs(kUsage, stdout), 0;
  ShapefilePath path = ShapefilePath::parse(a.operands[0]);
  Findings findings;
  // The main file as the library finds it, letter case aside; its siblings beside it.
  std::string shp = kel::nativePath(kel::toUtf16(path.file(".shp")));
  if (std::unique_ptr<fmt::Layer> layer = fmt::Layer::open(shp, findings)) {
    fmt::validate(*layer, findings);
  }
  kel::checkReadContract(path.basepath, path.filename, findings);
  Tally tally = findings.print();
  if (tally.errors + tally.irregularities == 0) {
    std::printf("%s: regular\n", visible(path.stem).c_str());
    return 0;
  }
  std::printf("%s: %lld errors, %lld irregularities\n", visible(path.stem).c_str(),
              static_cast<long long>(tally.errors), static_cast<long long>(tally.irregularities));
  return 1;
}

}  // namespace kelshp
