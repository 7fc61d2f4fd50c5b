#include <exception>

#include "kel/runtime/AtomicFileSet.h"
#include "kel/runtime/Checked.h"
#include "kel/runtime/FileSystem.h"
#include "kel/shapefile/DriverState.h"
#include "kel/shapefile/Shapefile.h"
#include "kel/shapefile/ShapefilePaths.h"

namespace kel {

bool Shapefile::readShapefile(std::u16string& basepath, std::u16string& filename) {
  ChannelTable channels;  // closes whatever is still open when the call ends
  caught_.reset();
  std::int32_t held = shapeObjects_->count();
  try {
    normaliseShapefilePath(basepath, filename);
    try {
      // What a replacement cut short by the death of its process left is put right first.
      AtomicFileSet::recoverWaiting(AtomicFileSet::recordFor(nativePath(basepath + filename)), 2);
    } catch (const Error&) {
      // The read goes on, and finds the files as they are.
    }
    bool present = true;
    for (std::u16string_view extension : {u".shp", u".shx", u".dbf"}) {
      present = present && shapefileMemberExists(basepath, filename, extension);
    }
    if (present) {
      openFileSet(channels, basepath + filename, LinkRule::Follow);
      if (readHeaders(channels) && readShapes(channels) && readTable(channels)) {
        closeFileSet(channels);
        lastFailure_.reset();
        return true;
      }
    }
  } catch (const std::exception& e) {
    // Every failure on the way, ours or the runtime's, ends in the failure path below.
    noteFailure(u".shp", "the files cannot be looked up", e, true);
  }
  abandonFileSet(channels);
  explainFailure(basepath, filename, &held);
  return false;
}

bool Shapefile::readShapefile(std::u16string_view basepath, std::u16string_view filename) {
  std::u16string base(basepath);
  std::u16string name(filename);
  return readShapefile(base, name);
}

}  // namespace kel
