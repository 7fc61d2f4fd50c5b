#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "Layers.h"
#include "Output.h"
#include "Tool.h"
#include "kel/archive/Archive.h"
#include "kel/format/Layer.h"
#include "kel/format/Validator.h"
#include "kel/runtime/FileSystem.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/Shapefile.h"

namespace kelshp {

namespace {

namespace fmt = kel::format;

constexpr const char* kUsage =
    "usage: kelshp check [--encoding NAME] PATH\n"
    "\n"
    "Reads the three files of a shapefile, every record, row and value, and reports one line\n"
    "a finding, '<file>: offset N: <what> (<kind>)':\n"
    "  error         a reader refuses the bytes or loses data: a header, record, row or\n"
    "                value that cannot be read as the format has it, a missing file;\n"
    "  warning       the bytes are read whole, but are not as the format has them (lengths\n"
    "                that disagree, index entries that miss their records, boxes that differ\n"
    "                from the points, a column of width 0, deleted rows, padding, bytes\n"
    "                behind the last record, a missing end-of-file mark, text in an\n"
    "                encoding that no file declares, guessed, ...);\n"
    "  object model  what the library's object model (Shapefile.readShapefile), which\n"
    "                reads Point, PolyLine, Polygon and MultiPoint files of at most 32,766\n"
    "                shapes, refuses or reads otherwise (part starts, column types); a\n"
    "                tally of its own, which is never counted as an error.\n"
    "A place (a file and an offset) gets one line, its most severe finding; of each kind,\n"
    "a hundred lines are shown and the rest counted. A missing file is said on standard\n"
    "error; the files that are there are still checked. Notes on how the files were read\n"
    "(the table's encoding, an index walked around) are not shown. The last line is\n"
    "'<name>: regular', or '<name>: E errors, W warnings', followed by '; object model: R\n"
    "refusals, D differences' when it has something to say.\n"
    "Exits 0 when there are no errors, warnings or not; 1 when there is an error.\n";

// Who found a finding: the format's readers, or the object model's read.
enum class Source { Format, Model };

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
  std::int64_t warnings = 0;
  std::int64_t refusals = 0;     // the object model's errors
  std::int64_t differences = 0;  // its irregularities
};

// The findings that check prints, as the readers report them: the notes dropped, a place's most
// severe finding (the first of them), and of each kind of finding the first kKept, the rest
// counted. A kind is the source, the file, the severity and the sentence with its numbers left
// out; past kKinds kinds, a file's further ones count as one. Memory so holds a bounded number
// of findings whatever the files claim (an index of millions of entries that all miss their
// records). The object model's findings are kept apart, and a missing file is told once.
class Findings final : public fmt::Reporter {
 public:
  static constexpr std::size_t kKept = 100;
  static constexpr std::size_t kKinds = 200;

  // The findings from here on are the object model's.
  void fromModel() { source_ = Source::Model; }

  void report(const fmt::Finding& finding) override {
    // A missing file is an error whoever finds it (the engine reads shapes without a table, and
    // notes it), and is told once.
    if (finding.missingFile) {
      fmt::Finding missing = finding;
      missing.severity = fmt::Severity::Error;
      return keep(Source::Format, missing);
    }
    if (finding.severity != fmt::Severity::Note) keep(source_, finding);
  }

  // Prints each finding kept, in the order they came, and then how many more of each kind there
  // were; a missing file once, on standard error.
  Tally print() const {
    Tally tally;
    auto count = [&](Source source, fmt::Severity s, std::int64_t n) {
      bool error = s == fmt::Severity::Error;
      if (source == Source::Model) {
        (error ? tally.refusals : tally.differences) += n;
      } else {
        (error ? tally.errors : tally.warnings) += n;
      }
    };
    for (const auto& [source, f] : kept_) {
      count(source, f.severity, 1);
      if (f.missingFile) {
        warn(f.file + ": no such file");
      } else {
        std::printf("%s (%s)\n", visible(fmt::describe(f)).c_str(), word(source, f.severity));
      }
    }
    for (const auto& [key, kind] : kinds_) {
      if (kind.more == 0) continue;
      count(kind.source, kind.severity, kind.more);
      std::printf("%s: and %lld more: %s (%s)\n", visible(kind.file).c_str(),
                  static_cast<long long>(kind.more), visible(kind.shape).c_str(),
                  word(kind.source, kind.severity));
    }
    return tally;
  }

 private:
  using Place = std::tuple<Source, std::string, std::int64_t>;
  using KindKey = std::tuple<Source, std::string, fmt::Severity, std::string>;
  struct Kept {
    Source source;
    fmt::Finding finding;
  };
  struct Kind {
    Source source;
    std::string file;
    fmt::Severity severity;
    std::string shape;  // the sentence with "N" for each number
    std::size_t kept = 0;
    std::int64_t more = 0;
  };

  static const char* word(Source source, fmt::Severity s) {
    if (source == Source::Model) return "object model";
    return s == fmt::Severity::Error ? "error" : "warning";
  }

  void keep(Source source, const fmt::Finding& f) {
    bool placed = sharesPlace(f);
    Place place{source, f.file, f.offset};
    if (placed) {
      if (auto at = places_.find(place); at != places_.end()) {
        if (rank(f.severity) > rank(kept_[at->second].finding.severity)) {
          kept_[at->second].finding = f;
        }
        return;
      }
    }
    Kind& kind = kindOf(source, f);
    if (kind.kept == kKept) {
      ++kind.more;
      return;
    }
    ++kind.kept;
    if (placed) places_.emplace(std::move(place), kept_.size());
    kept_.push_back({source, f});
  }

  Kind& kindOf(Source source, const fmt::Finding& f) {
    std::string shape;
    for (std::size_t i = 0; i < f.sentence.size(); ++i) {
      bool digit = std::isdigit(static_cast<unsigned char>(f.sentence[i])) != 0;
      if (!digit) {
        shape += f.sentence[i];
      } else if (i == 0 || !std::isdigit(static_cast<unsigned char>(f.sentence[i - 1]))) {
        shape += 'N';
      }
    }
    std::size_t& ofFile = kindsOfFile_[{source, f.file, f.severity}];
    if (ofFile == kKinds) shape = "findings of other kinds";
    KindKey key{source, f.file, f.severity, shape};
    auto [at, fresh] =
        kinds_.try_emplace(std::move(key), Kind{source, f.file, f.severity, shape});
    if (fresh && ofFile < kKinds) ++ofFile;
    return at->second;
  }

  Source source_ = Source::Format;
  std::vector<Kept> kept_;
  std::map<Place, std::size_t> places_;  // of findings kept
  std::map<KindKey, Kind> kinds_;
  std::map<std::tuple<Source, std::string, fmt::Severity>, std::size_t> kindsOfFile_;
};

}  // namespace

int runCheck(const Args& args) {
  Arguments a = parseArguments(args, {kEncodingOption}, 1, 1, "PATH");
  if (a.help) return std::fputs(kUsage, stdout), std::fputs(kEncodingHelp, stdout), 0;
  ShapefilePath path = ShapefilePath::parse(a.operands[0]);
  Findings findings;
  // The main file as the library finds it, letter case aside; its siblings beside it.
  // A layer in an archive is checked by the engine alone: the object model reads files on disk.
  const bool inArchive = kel::archive::archiveOf(path.stem).has_value();
  std::string shp = inArchive ? path.stem : kel::nativePath(kel::toUtf16(path.file(".shp")));
  if (std::unique_ptr<fmt::Layer> layer = kel::archive::openLayer(shp, findings, openOptions(a))) {
    fmt::validate(*layer, findings);
  }
  // The object model's read, which tells what it refuses or reads otherwise as it goes; the
  // shapes it makes are dropped with it.
  findings.fromModel();
  if (!inArchive) {
    kel::makeRef<kel::Shapefile>()->readShapefile(path.basepath, path.filename, findings);
  }
  Tally tally = findings.print();
  std::string summary = visible(path.stem) + ": ";
  if (tally.errors + tally.warnings + tally.refusals + tally.differences == 0) {
    summary += "regular";
  } else {
    summary += std::to_string(tally.errors) + " errors, " + std::to_string(tally.warnings) +
               " warnings";
    if (tally.refusals + tally.differences > 0) {
      summary += "; object model: " + std::to_string(tally.refusals) + " refusals, " +
                 std::to_string(tally.differences) + " differences";
    }
  }
  std::printf("%s\n", summary.c_str());
  return tally.errors > 0 ? 1 : 0;
}

}  // namespace kelshp
