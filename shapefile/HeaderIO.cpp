#include <exception>
#include <limits>
#include <optional>
#include <string>

#include "kel/format/ShapeRecord.h"
#include "kel/runtime/Checked.h"
#include "kel/shapefile/ReadDriver.h"
#include "kel/shapefile/Shapefile.h"
#include "kel/shapefile/ShapefileFormat.h"
#include "kel/shapefile/WriteDriver.h"

namespace kel {

namespace {

shp::ShapefileHeader getHeader(FileChannel& file) {
  shp::ShapefileHeader::Bytes bytes;
  file.get(bytes.data(), bytes.size());
  return shp::ShapefileHeader::decode(bytes);
}

std::string notTheCode(const shp::ShapefileHeader& header) {
  return "the file code is " + std::to_string(header.fileCode) +
         ", not 9994: the object model refuses the file";
}

}  // namespace

bool ReadDriver::readHeaders() {
  using format::kHeaderBytes;
  std::u16string_view reading = u".shx";
  try {
    FileChannel& shx = set_[1];
    if (shx.length() < kHeaderBytes) {
      return refuse(reading, -1, -1,
                    "the file holds " + std::to_string(shx.length()) +
                        " bytes, fewer than its 100-byte header, from whose file length the object "
                        "model counts the records: it refuses the file");
    }
    shp::ShapefileHeader index = getHeader(shx);
    if (index.fileLength < std::numeric_limits<std::int32_t>::min() + shp::kHeaderWords) {
      return refuse(reading, format::kFileLengthAt, -1,
                    "the file length of " + std::to_string(index.fileLength) +
                        " words is too small to count records from: the object model refuses the "
                        "file");
    }
    // Every index entry is 4 words behind the 50 of the header, rounded half to even; the count
    // is known before the file code is checked.
    announced_ = toInt32(static_cast<double>(index.fileLength - shp::kHeaderWords) /
                         shp::kIndexEntryWords);
    if (index.fileCode != shp::kFileCode) return refuse(reading, 0, -1, notTheCode(index));

    reading = u".shp";
    FileChannel& shp = set_[0];
    if (shp.length() < kHeaderBytes) {
      return refuse(reading, -1, -1,
                    "the file holds " + std::to_string(shp.length()) +
                        " bytes, fewer than its 100-byte header: the object model refuses it");
    }
    shp::ShapefileHeader main = getHeader(shp);
    BoundingBox& box = deref(file_.get_BoundingBox());
    box.put_xMin(main.xMin);
    box.put_yMin(main.yMin);
    box.put_xMax(main.xMax);
    box.put_yMax(main.yMax);
    type_ = headerType_ = main.shapeType;
    file_.put_ShapeType(static_cast<ShapeTypeConstants>(main.shapeType));
    if (main.fileCode != shp::kFileCode) return refuse(reading, 0, -1, notTheCode(main));
    return true;
  } catch (const std::exception& e) {
    return caught(reading, "the header cannot be read", e);
  }
}

bool WriteDriver::writeHeaders(FileChannel& shp, FileChannel& shx) {
  try {
    std::int16_t shapes = file_.get_ShapeObjectCount();
    ShapeTypeConstants type = file_.get_ShapeType();
    // The main file's length in words: the header, then each record with its header. A record's
    // contents are laid out by the file's type: a Point, a MultiPoint, or else parts and points.
    std::optional<format::ShapeTypeTraits> layout = format::traitsOf(
        type == kelPoint || type == kelMultiPoint ? type : kelPolyLine);
    auto recordWords = [&](std::int32_t parts, std::int32_t points) {
      std::uint64_t bytes = format::contentLayout(*layout, static_cast<std::uint64_t>(parts),
                                                  static_cast<std::uint64_t>(points))
                                .end;
      return add32(toInt32(static_cast<std::int64_t>(bytes)) / 2, format::kRecordHeaderBytes / 2);
    };
    std::int32_t mainWords = format::kHeaderBytes / 2;
    if (type == kelPoint) {
      mainWords = add32(mainWords, mul32(recordWords(0, 1), shapes));
    } else {
      const Collection& shapeObjects = deref(file_.get_ShapeObjects());
      loop16(1, shapes, [&](std::int16_t i) {
        ShapeObject& shape = shapeObjects.objectAt<ShapeObject>(i);
        std::int32_t parts = type == kelMultiPoint ? 0 : shape.get_PartCount();
        mainWords = add32(mainWords, recordWords(parts, shape.get_CoordinateCount()));
      });
    }

    const BoundingBox& box = deref(file_.get_BoundingBox());
    format::MainHeader header;
    header.fileCode = format::kFileCode;
    header.version = format::kVersion;
    header.shapeType = type;
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
