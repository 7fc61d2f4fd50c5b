#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "kel/format/MainFile.h"
#include "kel/format/ShapeRecord.h"
#include "kel/runtime/Checked.h"
#include "kel/runtime/FileChannel.h"
#include "kel/shapefile/Shapefile.h"
#include "kel/shapefile/WriteDriver.h"

namespace kel {

// Puts each record's index entry, record header and contents, the contents encoded by the format
// codec from arrays that are read from the model's shape and reused from record to record.
//
// A record is read from the model before any of it is put, but a record that fails once its
// counts are known leaves what this writer has always left of it: the index entry, the record
// header and the contents up to the part start or vertex that failed, the vertices before that
// one in whole runs of 256.
class WriteDriver::RecordWriter {
 public:
  RecordWriter(FileChannel& shp, FileChannel& shx, ShapeTypeConstants fileType)
      : shp_(shp), shx_(shx) {
    view_.type = static_cast<format::ShapeType>(fileType);
  }

  // A Point record holds the shape's first vertex alone.
  void putPoint(const ShapeObject& shape, std::int32_t recordNumber) {
    Ref<Coordinate> point = shape.getCoord(1);
    size(0, 1);
    put(recordNumber, [&] {
      const Coordinate& c = deref(point);
      points_[0] = {c.get_X(), c.get_Y()};
    });
  }

  // A MultiPoint, PolyLine or Polygon record: the shape's box, its part starts (a MultiPoint has
  // none) and its vertices.
  void putShape(ShapeObject& shape, const VertexExtents* known, std::int32_t recordNumber) {
    setUnsetBox(shape, known);
    bool hasParts = view_.type != format::ShapeType::MultiPoint;
    std::int32_t parts = hasParts ? shape.get_PartCount() : 0;
    std::int32_t points = shape.get_CoordinateCount();
    const BoundingBox& box = deref(shape.get_BoundingBox());
    view_.box = {box.get_xMin(), box.get_yMin(), box.get_xMax(), box.get_yMax()};
    size(parts, points);
    put(recordNumber, [&] {
      if (hasParts) {
        loop16(1, toInt16(std::int64_t{parts}), [&](std::int16_t i) {
          parts_[static_cast<std::size_t>(i) - 1] = shape.getPart(i);
          kept_ += 4;
        });
      }
      std::int16_t last = toInt16(std::int64_t{points});
      std::size_t read = 0;
      try {
        deref(shape.get_Coordinates()).forEachObject<Coordinate>([&](const Coordinate& c) {
          points_[read++] = {c.get_X(), c.get_Y()};
        });
        stepPastLast16(last);
      } catch (...) {
        kept_ = layout_.points + 16 * (read - read % kVertexRun);
        throw;
      }
    });
  }

 private:
  static constexpr std::size_t kVertexRun = 256;  // the vertices a failed record keeps, in runs

  // Sizes the arrays, and the view over them, for a record of p parts and n points.
  void size(std::int32_t parts, std::int32_t points) {
    parts_.resize(static_cast<std::size_t>(parts));
    points_.resize(static_cast<std::size_t>(points));
    view_.parts = parts_;
    view_.points = points_;
    layout_ = format::contentLayout(*format::traitsOf(static_cast<std::int32_t>(view_.type)),
                                    parts_.size(), points_.size());
  }

  // Fills the arrays by `read`, then puts the whole record. When `read` fails, the record is put
  // as far as it got (kept_ bytes of the contents, the shape type at least) and the failure goes
  // on.
  template <class Read>
  void put(std::int32_t recordNumber, Read&& read) {
    kept_ = layout_.partStarts;  // a Point's type, or a shape's type, box and counts
    try {
      read();
    } catch (...) {
      encodeAndPut(recordNumber, kept_);
      throw;
    }
    encodeAndPut(recordNumber, layout_.end);
  }

  // Puts the index entry, the record header and the first `contents` bytes of the contents.
  void encodeAndPut(std::int32_t recordNumber, std::uint64_t contents) {
    bytes_.assign(format::kRecordHeaderBytes, 0);
    format::encodeShape(view_, bytes_);
    std::int32_t words =
        toInt32(static_cast<std::int64_t>(bytes_.size() / 2)) - format::kRecordHeaderBytes / 2;
    format::RecordHeader{recordNumber, words}.encode(bytes_.data());
    unsigned char entry[format::kIndexEntryBytes];
    format::IndexEntry{toInt32(shp_.length() / 2), words}.encode(entry);
    shx_.put(entry, sizeof entry);
    shp_.put(bytes_.data(),
             std::min<std::size_t>(bytes_.size(), format::kRecordHeaderBytes + contents));
  }

  FileChannel& shp_;
  FileChannel& shx_;
  format::ShapeView view_;
  format::ContentLayout layout_;
  std::uint64_t kept_ = 0;
  std::vector<std::int32_t> parts_;
  std::vector<format::XY> points_;
  std::vector<unsigned char> bytes_;
};

// An all-zero box means nobody set the extents: the shape gets its own, and keeps them. Extents
// found by the file's walk stand in for the shape's own walk, except for a shape that calls
// itself a point, whose box is its first vertex alone.
void WriteDriver::setUnsetBox(ShapeObject& shape, const VertexExtents* known) {
  BoundingBox& box = deref(shape.get_BoundingBox());
  if (!isAllZero(box)) return;
  if (known != nullptr && shape.get_CoordinateCount() > 0 && shape.get_ShapeType() != kelPoint) {
    box.setBoundingBox(known->xMin, known->yMin, known->xMax, known->yMax);
  } else {
    shape.computeExtents();
  }
}

bool WriteDriver::writeShapes(FileChannel& shp, FileChannel& shx,
                              const std::vector<VertexExtents>& perShape) {
  try {
    ShapeTypeConstants type = file_.get_ShapeType();
    const Collection& shapeObjects = deref(file_.get_ShapeObjects());
    RecordWriter records(shp, shx, type);
    std::int32_t recordNumber = 1;
    return loop16(1, file_.get_ShapeObjectCount(), [&](std::int16_t i) {
      auto index = static_cast<std::size_t>(i) - 1;
      const VertexExtents* known = index < perShape.size() ? &perShape[index] : nullptr;
      // The shapefile's type picks the layout of every record, whatever the shape's own type;
      // a file of another type gets no records.
      bool written = true;
      if (type == kelPoint || type == kelMultiPoint || type == kelPolyLine ||
          type == kelPolygon) {
        ShapeObject& shape = shapeObjects.objectAt<ShapeObject>(i);
        // Each record reports its failure as false; the records before it stay complete.
        try {
          if (type == kelPoint) {
            records.putPoint(shape, recordNumber);
          } else {
            records.putShape(shape, known, recordNumber);
          }
        } catch (const std::exception& e) {
          noteFailure(u".shp", "record " + std::to_string(recordNumber) + " cannot be written", e);
          written = false;
        }
      }
      recordNumber = add32(recordNumber, 1);
      return written;
    });
  } catch (const std::exception& e) {
    noteFailure(u".shp", "the records cannot be written", e);
    return false;
  }
}

}  // namespace kel
