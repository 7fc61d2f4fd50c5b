#include <exception>

#include "kel/runtime/Checked.h"
#include "kel/runtime/FileSystem.h"
#include "kel/shapefile/DriverState.h"
#include "kel/shapefile/Shapefile.h"
#include "kel/shapefile/ShapefilePaths.h"

namespace kel {

bool Shapefile::writeShapefile(std::u16string& basepath, std::u16string& filename) {
  ChannelTable channels;  // closes whatever is still open when the call ends
  caught_.reset();
  // The file and the step that a failure concerns, unless a step says so itself.
  std::u16string_view file = u".shp";
  const char* doing = "the files cannot be looked up";
  try {
    normaliseShapefilePath(basepath, filename);
    std::u16string stem = basepath + filename;
    const std::u16string_view extensions[] = {u".shp", u".shx", u".dbf"};
    for (std::u16string_view extension : extensions) {
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
    openFileSet(channels, stem, LinkRule::Refuse);
    // A file the look-up cannot see (a hidden one) is opened with its old bytes; empty it, so
    // that nothing old is left behind the new end.
    doing = "cannot be emptied";
    const std::int32_t numbers[] = {driver_->shpChannel_, driver_->shxChannel_, driver_->dbfChannel_};
    FileChannel* files[3] = {};
    for (int i = 0; i < 3; ++i) {
      file = extensions[i];
      files[i] = &channels.channel(toInt16(std::int64_t{numbers[i]}));
      files[i]->truncate();
    }
    if (writeFiles(*files[0], *files[1], *files[2])) {
      closeFileSet(channels);  // a failed flush is a failed write
      lastFailure_.reset();
      return true;
    }
  } catch (const std::exception& e) {
    // Every failure on the way, ours or the runtime's, ends in the failure path below.
    noteFailure(file, doing, e);
  }
  abandonFileSet(channels);
  explainFailure(basepath, filename, nullptr);
  return false;
}

bool Shapefile::writeFiles(FileChannel& shp, FileChannel& shx, FileChannel& dbf) {
  std::vector<VertexExtents> perShape;
  try {
    if (isAllZero(deref(boundingBox_))) computeFileExtents(perShape);
  } catch (const std::exception& e) {
    noteFailure(u".shp", "the extents cannot be computed", e);
    return false;
  }
  return writeHeaders(shp, shx) && writeShapes(shp, shx, perShape) && writeTable(dbf);
}

bool Shapefile::writeShapefile(std::u16string_view basepath, std::u16string_view filename) {
  std::u16string base(basepath);
  std::u16string name(filename);
  return writeShapefile(base, name);
}

}  // namespace kel
