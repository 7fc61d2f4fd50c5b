#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kel/runtime/ReadOnlyFile.h"

namespace kel::format {

enum class Severity {
  Error,         // the bytes cannot be read as the format says: a record, a file, or the layer
  Irregularity,  // the bytes are read, but the format says otherwise, or a reader had to guess
  Note,          // how the reader went about it (a missing index walked, an encoding chosen)
};

// One thing a reader found: where, and a sentence a user understands.
struct Finding {
  Severity severity = Severity::Error;
  std::string file;          // the path, as the reader was given it
  std::int64_t offset = -1;  // the byte offset in that file, -1 when the whole file is meant
  std::int64_t record = -1;  // the 0-based record, -1 when no record is meant
  std::string sentence;
  bool missingFile = false;  // the file does not exist
  // The reader read on a guess (an encoding no file declares), which every reading user is told.
  bool guess = false;
};

// What the readers tell of everything they find; nothing is thrown for bad bytes.
class Reporter {
 public:
  virtual ~Reporter() = default;
  virtual void report(const Finding& finding) = 0;
};

// Keeps every finding, and counts them.
class CollectingReporter final : public Reporter {
 public:
  void report(const Finding& finding) override { findings.push_back(finding); }
  std::size_t count(Severity severity) const {
    std::size_t n = 0;
    for (const Finding& f : findings) n += f.severity == severity;
    return n;
  }
  std::vector<Finding> findings;
};

// Keeps the first error only, for a caller that wants the reason of a failure and nothing else.
class FirstErrorReporter final : public Reporter {
 public:
  void report(const Finding& finding) override {
    if (finding.severity == Severity::Error && !error) error = finding;
  }
  std::optional<Finding> error;
};

// "file: offset 120: record 3: sentence", the parts that are known.
std::string describe(const Finding& finding);

// Tells the reporter a finding in one call.
void tell(Reporter& reporter, Severity severity, const std::string& file, std::int64_t offset,
          std::int64_t record, std::string sentence);

// Opens a file for reading only; null, and the reporter told why as an error, when it cannot.
std::unique_ptr<ReadOnlyFile> openOrTell(const std::string& path, Reporter& reporter);

}  // namespace kel::format
