#include "kel/format/Reporter.h"

namespace kel::format {

std::string describe(const Finding& f) {
  std::string out = f.file;
  if (f.offset >= 0) out += ": offset " + std::to_string(f.offset);
  if (f.record >= 0) out += ": record " + std::to_string(f.record + 1);
  out += ": " + f.sentence;
  return out;
}

void tell(Reporter& reporter, Severity severity, const std::string& file, std::int64_t offset,
          std::int64_t record, std::string sentence) {
  Finding f;
  f.severity = severity;
  f.file = file;
  f.offset = offset;
  f.record = record;
  f.sentence = std::move(sentence);
  reporter.report(f);
}

std::unique_ptr<ReadOnlyFile> openOrTell(const std::string& path, Reporter& reporter) {
  ReadOnlyFile::OpenError why;
  std::unique_ptr<ReadOnlyFile> file = ReadOnlyFile::open(path, why);
  if (!file) {
    Finding f;
    f.file = path;
    f.sentence = why.missing ? "no such file" : "cannot be opened: " + why.sentence;
    f.missingFile = why.missing;
    reporter.report(f);
  }
  return file;
}

}  // namespace kel::format
