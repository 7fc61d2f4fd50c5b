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
  std::u16string_view reading = u".shx";
  try {
    indexHeader_ = getHeader(channels.channel(toInt16(std::int64_t{shxChannel_})));
    // Every index entry is 4 words behind the 50 of the header; the count is known before the
    // file code is checked.
    double entries = static_cast<double>(sub32(indexHeader_.fileLength, shp::kHeaderWords)) /
                     shp::kIndexEntryWords;
    indexRecordCount_ = toInt32(entries);
    if (indexHeader_.fileCode != shp::kFileCode) return false;

    reading = u".shp";
    mainHeader_ = getHeader(channels.channel(toInt16(std::int64_t{shpChannel_})));
    BoundingBox& box = deref(boundingBox_);
    box.put_xMin(mainHeader_.xMin);
    box.put_yMin(mainHeader_.yMin);
    box.put_xMax(mainHeader_.xMax);
    box.put_yMax(mainHeader_.yMax);
    shapeType_ = static_cast<ShapeTypeConstants>(mainHeader_.shapeType);
    return mainHeader_.fileCode == shp::kFileCode;
  } catch (const std::exception& e) {
    noteFailure(reading, "the header cannot be read", e);
    return false;
  }
}

bool Shapefile::writeHeaders(ChannelTable& channels) {
  try {
    std::int16_t shapes = get_ShapeObjectCount();
    // The main file's length in words: the header, then each record with its 4-word header.
    std::int32_t mainWords = shp::kHeaderWords;
    if (shapeType_ == kelPoint) {
      mainWords =
          add32(mainWords, mul32(shp::pointContentWords() + shp::kRecordHeaderWords, shapes));
    } else {
      loop16(1, shapes, [&](std::int16_t i) {
        ShapeObject& shape = shapeObjects_->objectAt<ShapeObject>(i);
        std::int32_t content =
            shapeType_ == kelMultiPoint
                ? shp::multiPointContentWords(shape.get_CoordinateCount())
                : shp::polyContentWords(shape.get_PartCount(), shape.get_CoordinateCount());
        mainWords = add32(mainWords, add32(content, shp::kRecordHeaderWords));
      });
    }

    const BoundingBox& box = deref(boundingBox_);
    shp::ShapefileHeader header;
    header.fileCode = shp::kFileCode;
    header.version = shp::kVersion;
    header.shapeType = shapeType_;
    header.xMax = box.get_xMax();
    header.xMin = box.get_xMin();
    header.yMax = box.get_yMax();
    header.yMin = box.get_yMin();

    header.fileLength = mainWords;
    mainHeader_ = header;
    shp::ShapefileHeader::Bytes bytes = mainHeader_.encode();
    channels.channel(toInt16(std::int64_t{shpChannel_})).put(bytes.data(), bytes.size());

    header.fileLength = add32(shp::kHeaderWords, mul32(shp::kIndexEntryWords, shapes));
    indexHeader_ = header;
    bytes = indexHeader_.encode();
    channels.channel(toInt16(std::int64_t{shxChannel_})).put(bytes.data(), bytes.size());
    return true;
  } catch (const std::exception& e) {
    noteFailure(u".shp", "the headers cannot be written", e);
    return false;
  }
}

}  // namespace kel
