#include "kel/shapefile/WriteDriver.h"

#include <exception>
#include <new>

#include "kel/runtime/Checked.h"
#include "kel/runtime/FileChannel.h"
#include "kel/runtime/FileSystem.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/FileSet.h"
#include "kel/shapefile/Shapefile.h"
#include "kel/shapefile/ShapefilePaths.h"

namespace kel {

bool WriteDriver::write(std::u16string& basepath, std::u16string& filename) {
  ChannelTable channels;  // closes whatever is still open when the call ends
  FileSetChannels set;
  // The file and the step that a failure concerns, unless a step says so itself.
  std::u16string_view file = u".shp";
  const char* doing = "the files cannot be looked up";
  try {
    normaliseShapefilePath(basepath, filename);
    std::u16string stem = basepath + filename;
    for (std::u16string_view extension : kFileSetExtensions) {
      file = extension;
      // Names that differ only in letter case are one file where these paths come from; here
      // they may be several, and every one of them is an old file.
      while (shapefileMemberExists(basepath, filename, extension)) {
        doing = "the old file cannot be deleted";
        deleteFile(stem + std::u16string(extension));
        doing = "the files cannot be looked up";
      }
    }
    // A symbolic link left in a file's place (dangling, or hidden from the look-up) is refused,
    // so that the write cannot create or empty a file elsewhere.
    doing = "cannot be opened for writing";
    set.open(channels, stem, LinkRule::Refuse, file);
    // A file the look-up cannot see (a hidden one) is opened with its old bytes; empty it, so
    // that nothing old is left behind the new end.
    doing = "cannot be emptied";
    for (int i = 0; i < 3; ++i) {
      file = kFileSetExtensions[i];
      set[i].truncate();
    }
    if (writeFiles(set[0], set[1], set[2])) {
      doing = "cannot be closed";
      set.close(file);  // a failed flush is a failed write
      return true;
    }
  } catch (const std::exception& e) {
    // Every failure on the way, ours or the runtime's, ends in the failure path below.
    noteFailure(file, doing, e);
  }
  set.abandon();
  return false;
}

bool WriteDriver::writeFiles(FileChannel& shp, FileChannel& shx, FileChannel& dbf) {
  std::vector<VertexExtents> perShape;
  try {
    if (isAllZero(deref(file_.get_BoundingBox()))) computeFileExtents(perShape);
  } catch (const std::exception& e) {
    noteFailure(u".shp", "the extents cannot be computed", e);
    return false;
  }
  return writeHeaders(shp, shx) && writeShapes(shp, shx, perShape) && writeTable(dbf);
}

void WriteDriver::noteFailure(std::u16string_view extension, std::string_view doing,
                              const std::exception& e) noexcept {
  if (caught_) return;
  try {
    const auto* error = dynamic_cast<const Error*>(&e);
    std::int32_t number = error != nullptr ? error->number()
                          : dynamic_cast<const std::bad_alloc*>(&e) != nullptr
                              ? static_cast<std::int32_t>(ErrorNumber::OutOfMemory)
                              : static_cast<std::int32_t>(ErrorNumber::InvalidProcedureCall);
    caught_ = Caught{extension, std::string(doing) + ": " + e.what(), number};
  } catch (const std::exception&) {
    // Out of memory: the call fails without a reason.
  }
}

std::optional<format::Finding> WriteDriver::reason(const std::u16string& basepath,
                                                   const std::u16string& filename) const noexcept {
  try {
    std::u16string path =
        basepath + filename + std::u16string(caught_ ? caught_->extension : u".shp");
    format::Finding f;
    try {
      f.file = nativePath(path);
    } catch (const std::exception&) {
      f.file = toUtf8(path);  // a name with a NUL character in it
    }
    f.sentence = caught_ ? caught_->sentence
                         : "the call failed, and neither the files nor the system say why";
    return f;
  } catch (const std::exception&) {
    return std::nullopt;  // out of memory: the call fails without a reason
  }
}

bool Shapefile::writeShapefile(std::u16string& basepath, std::u16string& filename) {
  WriteDriver driver(*this);
  bool ok = driver.write(basepath, filename);
  lastFailure_.reset();
  if (!ok) lastFailure_ = driver.reason(basepath, filename);
  return ok;
}

bool Shapefile::writeShapefile(std::u16string_view basepath, std::u16string_view filename) {
  std::u16string base(basepath);
  std::u16string name(filename);
  return writeShapefile(base, name);
}

}  // namespace kel
