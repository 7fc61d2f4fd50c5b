// The three files of a shapefile as both drivers open and close them.

#include <exception>

#include "runtime/Checked.h"
#include "shapefile/Shapefile.h"

namespace kel {

void Shapefile::openFileSet(ChannelTable& channels, const std::u16string& stem, LinkRule links) {
  // Each free number is asked for after the previous file was opened, so the three differ.
  shpChannel_ = channels.freeFile();
  channels.open(toInt16(std::int64_t{shpChannel_}), stem + u".shp", links);
  shxChannel_ = channels.freeFile();
  channels.open(toInt16(std::int64_t{shxChannel_}), stem + u".shx", links);
  dbfChannel_ = channels.freeFile();
  channels.open(toInt16(std::int64_t{dbfChannel_}), stem + u".dbf", links);
}

void Shapefile::closeFileSet(ChannelTable& channels) {
  for (std::int32_t channel : {shpChannel_, shxChannel_, dbfChannel_}) {
    channels.close(toInt16(std::int64_t{channel}));
  }
}

void Shapefile::abandonFileSet(ChannelTable& channels) noexcept {
  for (std::int32_t channel : {shpChannel_, shxChannel_, dbfChannel_}) {
    try {
      channels.close(toInt16(std::int64_t{channel}));
    } catch (const std::exception&) {
      // The failure path reports false whatever a close says.
    }
  }
}

}  // namespace kel
