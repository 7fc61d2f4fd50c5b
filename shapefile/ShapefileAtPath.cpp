#include "kel/shapefile/ShapefileAtPath.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kel/format/LayerFiles.h"
#include "kel/format/Reporter.h"
#include "kel/runtime/AtomicFileSet.h"
#include "kel/runtime/Error.h"
#include "kel/runtime/FileChannel.h"
#include "kel/runtime/SystemFileSet.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/WriteDriver.h"

namespace kel {

namespace {

constexpr std::u16string_view kExtensions[] = {u".shp", u".shx", u".dbf"};

bool isSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

// Why a path names no shapefile.
struct Refusal {
  ErrorNumber number;
  format::Finding finding;
};

// The path without ".shp" at its end, or why it names no shapefile.
std::optional<Refusal> stemOf(std::string_view path, std::string& stem) {
  std::string p(path);
  auto refused = [](ErrorNumber number, std::string file, std::string sentence) {
    Refusal r{number, {}};
    r.finding.file = std::move(file);
    r.finding.sentence = std::move(sentence);
    return r;
  };
  if (std::size_t nul = p.find('\0'); nul != std::string::npos) {
    return refused(ErrorNumber::BadFileNameOrNumber, p.substr(0, nul),
                   "the path holds a NUL character");
  }
  stem = format::LayerFiles::of(p).base;
  if (stem.empty() || isSeparator(stem.back())) {
    return refused(ErrorNumber::BadFileNameOrNumber, p, "the path names no file");
  }
  if (systemfileset::kindOf(p) == systemfileset::Kind::Directory) {
    return refused(ErrorNumber::PathFileAccessError, p,
                   "the path names a directory, not a shapefile");
  }
  return std::nullopt;
}

[[noreturn]] void fail(ErrorNumber number, const format::Finding& why) {
  throw Error(number, toUtf16(format::describe(why)));
}

// The old layer's files that the new one has not and that would misdescribe it, in both letter
// cases of their extensions.
std::vector<std::string> staleFilesOf(const std::string& stem) {
  std::vector<std::string> stale;
  const format::LayerFiles files{stem, false};
  for (std::string_view extension : {".cpg", ".qix", ".sbn", ".sbx"}) {
    stale.push_back(files.path(extension));
    stale.push_back(files.path(extension, true));
  }
  return stale;
}

}  // namespace

Ref<Shapefile> readShapefileAt(std::string_view path) {
  std::string stem;
  if (std::optional<Refusal> refused = stemOf(path, stem)) {
    fail(refused->number, refused->finding);
  }
  std::size_t name = stem.size();
  while (name > 0 && !isSeparator(stem[name - 1])) --name;
  auto file = makeRef<Shapefile>();
  if (!file->readShapefile(name == 0 ? std::u16string(u"./") : toUtf16(stem.substr(0, name)),
                           toUtf16(stem.substr(name)))) {
    format::Finding why;
    if (file->lastFailure()) {
      why = *file->lastFailure();
    } else {  // out of memory on the way to the reason
      why.file = stem + ".shp";
      why.sentence = "the shapefile cannot be read";
    }
    fail(why.missingFile ? ErrorNumber::FileNotFound : ErrorNumber::PathFileAccessError, why);
  }
  return file;
}

void replaceShapefile(Shapefile& file, std::string_view path) {
  WriteDriver driver(file);
  file.lastFailure_.reset();
  std::string stem;
  if (std::optional<Refusal> refused = stemOf(path, stem)) {
    file.lastFailure_ = refused->finding;
    fail(refused->number, refused->finding);
  }
  // The file and the step that a failure concerns, unless the model's steps say so themselves.
  std::u16string_view extension = kExtensions[0];
  const char* doing = "the new files cannot be made";
  try {
    AtomicFileSet files;  // removes the temporary files unless they were committed
    files.keepRecord(AtomicFileSet::recordFor(stem));
    for (std::u16string_view e : kExtensions) {
      extension = e;
      files.add(stem + toUtf8(e));
    }
    bool written = false;
    {
      // Closed before the set, which then removes or renames the files they wrote.
      std::unique_ptr<FileChannel> channels[3];
      doing = "the new file cannot be opened for writing";
      for (std::size_t i = 0; i < 3; ++i) {
        extension = kExtensions[i];
        channels[i] = std::make_unique<FileChannel>(files.temporary(i), LinkRule::Refuse);
      }
      written = driver.writeFiles(*channels[0], *channels[1], *channels[2]);
      doing = "the new file cannot be written";
      for (std::size_t i = 0; i < 3 && written; ++i) {
        extension = kExtensions[i];
        channels[i]->close();
      }
    }
    if (written) {
      extension = kExtensions[0];
      doing = "the layer cannot be replaced";
      files.commit(staleFilesOf(stem));
      return;
    }
  } catch (const std::exception& e) {
    driver.noteFailure(extension, doing, e);
  }
  const std::optional<WriteDriver::Caught>& caught = driver.caught();
  format::Finding why;
  why.file = stem + toUtf8(caught ? caught->extension : kExtensions[0]);
  why.sentence = caught ? caught->sentence : "the layer cannot be written";
  file.lastFailure_ = why;
  fail(caught ? static_cast<ErrorNumber>(caught->number) : ErrorNumber::OutOfMemory, why);
}

}  // namespace kel
