#include "kel/shapefile/ReadDriver.h"

#include <exception>
#include <utility>

#include "kel/runtime/AtomicFileSet.h"
#include "kel/runtime/FileSystem.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/Shapefile.h"
#include "kel/shapefile/ShapefilePaths.h"

namespace kel {

namespace {

// Passes every finding on, and keeps the first error: the reason of a failed read.
class FirstErrorKept final : public format::Reporter {
 public:
  explicit FirstErrorKept(format::Reporter* next) : next_(next) {}
  void report(const format::Finding& finding) override {
    if (finding.severity == format::Severity::Error && !first) first = finding;
    if (next_ != nullptr) next_->report(finding);
  }
  std::optional<format::Finding> first;

 private:
  format::Reporter* next_;
};

}  // namespace

bool ReadDriver::read(std::u16string& basepath, std::u16string& filename) {
  try {
    normaliseShapefilePath(basepath, filename);
    std::u16string stem = basepath + filename;
    namePaths(stem);
    try {
      // What a replacement cut short by the death of its process left is put right first.
      AtomicFileSet::recoverWaiting(AtomicFileSet::recordFor(nativePath(stem)), 2);
    } catch (const Error&) {
      // The read goes on, and finds the files as they are.
    }
    for (std::u16string_view extension : kFileSetExtensions) {
      if (!shapefileMemberExists(basepath, filename, extension)) {
        format::Finding missing{format::Severity::Error, pathOf(extension), -1, -1,
                                "no such file: the object model reads the main file, the index "
                                "and the table together, and refuses a shapefile without one of "
                                "them",
                                true};
        try {
          reporter_.report(missing);
        } catch (const std::exception&) {
          // Out of memory: the call fails without a reason.
        }
        return false;
      }
    }
  } catch (const std::exception& e) {
    if (paths_[0].empty()) namePaths(basepath + filename);
    return caught(u".shp", "the files cannot be looked up", e);
  }
  std::u16string_view failing = u".shp";
  try {
    set_.open(channels_, basepath + filename, LinkRule::Follow, failing);
  } catch (const std::exception& e) {
    set_.abandon();
    return caught(failing, "cannot be opened for reading and writing", e);
  }
  if (readHeaders() && readShapes() && readTable()) {
    try {
      set_.close(failing);
      return true;
    } catch (const std::exception& e) {
      caught(failing, "cannot be closed", e);
    }
  }
  set_.abandon();
  return false;
}

void ReadDriver::namePaths(const std::u16string& stem) {
  for (int i = 0; i < 3; ++i) {
    std::u16string path = stem + std::u16string(kFileSetExtensions[i]);
    try {
      paths_[i] = nativePath(path);
    } catch (const std::exception&) {
      paths_[i] = toUtf8(path);  // a name with a NUL character in it
    }
  }
}

const std::string& ReadDriver::pathOf(std::u16string_view extension) const {
  for (int i = 0; i < 3; ++i) {
    if (kFileSetExtensions[i] == extension) return paths_[i];
  }
  return paths_[0];
}

void ReadDriver::tell(format::Severity severity, std::u16string_view extension,
                      std::int64_t offset, std::int64_t record, std::string sentence) {
  try {
    reporter_.report({severity, pathOf(extension), offset, record, std::move(sentence), false});
  } catch (const std::exception&) {
    // Out of memory, or the reporter's own failure: the read goes on as it would.
  }
}

bool ReadDriver::refuse(std::u16string_view extension, std::int64_t offset, std::int64_t record,
                        std::string sentence) {
  tell(format::Severity::Error, extension, offset, record, std::move(sentence));
  return false;
}

bool ReadDriver::caught(std::u16string_view extension, std::string_view doing,
                        const std::exception& e) {
  try {
    tell(format::Severity::Error, extension, -1, -1, std::string(doing) + ": " + e.what());
  } catch (const std::exception&) {
    // Out of memory while saying it: the call fails without a reason.
  }
  return false;
}

bool Shapefile::readShapefile(std::u16string& basepath, std::u16string& filename,
                              format::Reporter* reporter) {
  FirstErrorKept reasons(reporter);
  bool ok = ReadDriver(*this, reasons).read(basepath, filename);
  lastFailure_.reset();
  if (!ok) {
    try {
      lastFailure_ = std::move(reasons.first);
      if (!lastFailure_) {
        lastFailure_ = format::Finding{format::Severity::Error, toUtf8(basepath + filename + u".shp"),
                                       -1, -1, "the call failed, and neither the files nor the "
                                       "system say why", false};
      }
    } catch (const std::exception&) {
      // Out of memory: the call fails without a reason.
    }
  }
  return ok;
}

bool Shapefile::readShapefile(std::u16string& basepath, std::u16string& filename) {
  return readShapefile(basepath, filename, nullptr);
}

bool Shapefile::readShapefile(std::u16string_view basepath, std::u16string_view filename) {
  std::u16string base(basepath);
  std::u16string name(filename);
  return readShapefile(base, name, nullptr);
}

bool Shapefile::readShapefile(std::u16string_view basepath, std::u16string_view filename,
                              format::Reporter& reporter) {
  std::u16string base(basepath);
  std::u16string name(filename);
  return readShapefile(base, name, &reporter);
}

}  // namespace kel
