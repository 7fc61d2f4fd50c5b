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
    openFileSet(channels, basepath + filename);
    if (readHeaders(channels) && readShapes(channels) && readTable(channels)) {
      for (std::int32_t channel : {shpChannel_, shxChannel_, dbfChannel_}) {
        channels.close(toInt16(std::int64_t{channel}));
      }
      return true;
    }
  } catch (const std::exception&) {
    // Every failure on the way, ours or the runtime's, ends in the failure path below.
  }
  closeFileSet(channels);
  return false;
}

bool Shapefile::readShapefile(std::u16string_view basepath, std::u16string_view filename) {
  std::u16string base(basepath);
  std::u16string name(filename);
  return readShapefile(base, name);
}

void Shapefile::openFileSet(ChannelTable& channels, const std::u16string& stem) {
  // Each free number is asked for after the previous file was opened, so the three differ.
  shpChannel_ = channels.freeFile();
  channels.open(toInt16(std::int64_t{shpChannel_}), stem + u".shp");
  shxChannel_ = channels.freeFile();
  channels.open(toInt16(std::int64_t{shxChannel_}), stem + u".shx");
  dbfChannel_ = channels.freeFile();
  channels.open(toInt16(std::int64_t{dbfChannel_}), stem + u".dbf");
}

void Shapefile::closeFileSet(ChannelTable& channels) noexcept {
  for (std::int32_t channel : {shpChannel_, shxChannel_, dbfChannel_}) {
    try {
      channels.close(toInt16(std::int64_t{channel}));
    } catch (const std::exception&) {
      // The failure path reports false whatever a close says.
    }
  }
}

}  // namespace kel
