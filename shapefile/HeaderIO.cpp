#include <exception>
#include <optional>

#include "kel/format/ShapeRecord.h"
#include "kel/runtime/Checked.h"
#include "kel/shapefile/DriverState.h"
#include "kel/shapefile/Shapefile.h"

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
    driver_->indexHeader_ = getHeader(channels.channel(toInt16(std::int64_t{driver_->shxChannel_})));
    // Every index entry is 4 words behind the 50 of the header; the count is known before the
    // file code is checked.
    double entries = static_cast<double>(sub32(driver_->indexHeader_.fileLength, shp::kHeaderWords)) /
                     shp::kIndexEntryWords;
    driver_->indexRecordCount_ = toInt32(entries);
    if (driver_->indexHeader_.fileCode != shp::kFileCode) return false;

    reading = u".shp";
    driver_->mainHeader_ = getHeader(channels.channel(toInt16(std::int64_t{driver_->shpChannel_})));
    BoundingBox& box = deref(boundingBox_);
    box.put_xMin(driver_->mainHeader_.xMin);
    box.put_yMin(driver_->mainHeader_.yMin);
    box.put_xMax(driver_->mainHeader_.xMax);
    box.put_yMax(driver_->mainHeader_.yMax);
    shapeType_ = static_cast<ShapeTypeConstants>(driver_->mainHeader_.shapeType);
    return driver_->mainHeader_.fileCode == shp::kFileCode;
  } catch (const std::exception& e) {
    noteFailure(reading, "the header cannot be read", e);
    return false;
  }
}

bool Shapefile::writeHeaders(FileChannel& shp, FileChannel& shx) {
  try {
    std::int16_t shapes = get_ShapeObjectCount();
    // The main file's length in words: the header, then each record with its header. A record's
    // contents are laid out by the file's type: a Point, a MultiPoint, or else parts and points.
    std::optional<format::ShapeTypeTraits> layout = format::traitsOf(
        shapeType_ == kelPoint || shapeType_ == kelMultiPoint ? shapeType_ : kelPolyLine);
    auto recordWords = [&](std::int32_t parts, std::int32_t points) {
      std::uint64_t bytes = format::contentLayout(*layout, static_cast<std::uint64_t>(parts),
                                                  static_cast<std::uint64_t>(points))
                                .end;
      return add32(toInt32(static_cast<std::int64_t>(bytes)) / 2, format::kRecordHeaderBytes / 2);
    };
    std::int32_t mainWords = format::kHeaderBytes / 2;
    if (shapeType_ == kelPoint) {
      mainWords = add32(mainWords, mul32(recordWords(0, 1), shapes));
    } else {
      loop16(1, shapes, [&](std::int16_t i) {
        ShapeObject& shape = shapeObjects_->objectAt<ShapeObject>(i);
        std::int32_t parts = shapeType_ == kelMultiPoint ? 0 : shape.get_PartCount();
        mainWords = add32(mainWords, recordWords(parts, shape.get_CoordinateCount()));
      });
    }

    const BoundingBox& box = deref(boundingBox_);
    format::MainHeader header;
    header.fileCode = format::kFileCode;
    header.version = format::kVersion;
    header.shapeType = shapeType_;
    header.xMin = box.get_xMin();
    header.yMin = box.get_yMin();
    header.xMax = box.get_xMax();
    header.yMax = box.get_yMax();
    header.fileLength = mainWords;
    format::MainHeader::Bytes bytes = header.encode();
    shp.put(bytes.data(), bytes.size());
    header.fileLength =
        add32(format::kHeaderBytes / 2, mul32(format::kIndexEntryBytes / 2, std::int32_t{shapes}));
    bytes = header.encode();
    shx.put(bytes.data(), bytes.size());
    return true;
  } catch (const std::exception& e) {
    noteFailure(u".shp", "the headers cannot be written", e);
    return false;
  }
}

}  // namespace kel
