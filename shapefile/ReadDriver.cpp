#include <exception>

#include "runtime/Checked.h"
#include "shapefile/Shapefile.h"
#include "shapefile/ShapefilePaths.h"

namespace kel {

bool Shapefile::readShapefile(std::u16string& basepath, std::u16string& filename) {
  ChannelTable channels;  // closes whatever is still open when the call ends
  try {
    normaliseShapefilePath(basepath, filename);
    for (std::u16string_view extension : {u".shp", u".shx", u".dbf"}) {
      if (!shapefileMemberExists(basepath, filename, extension)) return false;
    }
    openFileSet(channels, basepath + filename, LinkRule::Follow);
    if (readHeaders(channels) && readShapes(channels) && readTable(channels)) {
      closeFileSet(channels);
      return true;
    }
  } catch (const std::exception&) {
    // Every failure on the way, ours or the runtime's, ends in the failure path below.
  }
  abandonFileSet(channels);
  return false;
}

bool Shapefile::readShapefile(std::u16string_view basepath, std::u16string_view filename) {
  std::u16string base(basepath);
  std::u16string name(filename);
  return readShapefile(base, name);
}

}  // namespace kel
