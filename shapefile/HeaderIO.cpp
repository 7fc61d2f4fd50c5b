#include <exception>

#include "runtime/Checked.h"
#include "shapefile/Shapefile.h"

namespace kel {

namespace {

shp::ShapefileHeader getHeader(FileChannel& file) {
  shp::ShapefileHeader::Bytes bytes;
  file.get(bytes.data(), bytes.size());
  return shp::ShapefileHeader::decode(bytes);
}

}  // namespace

bool Shapefile::readHeaders(ChannelTable& channels) {
  try {
    indexHeader_ = getHeader(channels.channel(toInt16(std::int64_t{shxChannel_})));
    // Every index entry is 4 words behind the 50 of the header; the count is known before the
    // file code is checked.
    double entries = static_cast<double>(sub32(indexHeader_.fileLength, shp::kHeaderWords)) /
                     shp::kIndexEntryWords;
    indexRecordCount_ = toInt32(entries);
    if (indexHeader_.fileCode != shp::kFileCode) return false;

    mainHeader_ = getHeader(channels.channel(toInt16(std::int64_t{shpChannel_})));
    BoundingBox& box = deref(boundingBox_);
    box.put_xMin(mainHeader_.xMin);
    box.put_yMin(mainHeader_.yMin);
    box.put_xMax(mainHeader_.xMax);
    box.put_yMax(mainHeader_.yMax);
    shapeType_ = static_cast<ShapeTypeConstants>(mainHeader_.shapeType);
    return mainHeader_.fileCode == shp::kFileCode;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace kel
