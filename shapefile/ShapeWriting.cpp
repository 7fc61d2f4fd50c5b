#include <exception>
#include <string>

#include "runtime/Checked.h"
#include "shapefile/Shapefile.h"

namespace kel {

namespace {

void putBox(FileChannel& shp, const BoundingBox& box) {
  shp.put(box.get_xMin());
  shp.put(box.get_yMin());
  shp.put(box.get_xMax());
  shp.put(box.get_yMax());
}

void putPoints(FileChannel& shp, const ShapeObject& shape, std::int32_t count) {
  std::int16_t last = toInt16(std::int64_t{count});
  const Collection& coordinates = deref(shape.get_Coordinates());
  constexpr int kChunk = 256;  // points gathered before they go to the channel
  double xy[2 * kChunk];
  int gathered = 0;
  coordinates.forEachObject<Coordinate>([&](const Coordinate& c) {
    xy[2 * gathered] = c.get_X();
    xy[2 * gathered + 1] = c.get_Y();
    if (++gathered == kChunk) {
      shp.putArray(xy, 2 * kChunk);
      gathered = 0;
    }
  });
  stepPastLast16(last);
  shp.putArray(xy, 2 * static_cast<std::size_t>(gathered));
}

// Appends a record's index entry and record header: the record's offset in words goes to the
// index, the record number to the main file, then the content length to both.
void putRecordStart(FileChannel& shp, FileChannel& shx, std::int32_t recordNumber,
                    std::int32_t contentWords) {
  std::int32_t offset = toInt32(shp.length() / 2);
  shx.seek(shx.length());
  shx.put(shp::swapBytes(offset));
  shp.seek(shp.length());
  shp.put(shp::swapBytes(recordNumber));
  shx.put(shp::swapBytes(contentWords));
  shp.put(shp::swapBytes(contentWords));
}

}  // namespace

// An all-zero box means nobody set the extents: the shape gets its own, and keeps them. Extents
// found by the file's walk stand in for the shape's own walk, except for a shape that calls
// itself a point, whose box is its first vertex alone.
void Shapefile::setUnsetBox(ShapeObject& shape, const VertexExtents* known) {
  BoundingBox& box = deref(shape.get_BoundingBox());
  if (!isAllZero(box)) return;
  if (known != nullptr && shape.get_CoordinateCount() > 0 && shape.get_ShapeType() != kelPoint) {
    box.setBoundingBox(known->xMin, known->yMin, known->xMax, known->yMax);
  } else {
    shape.computeExtents();
  }
}

bool Shapefile::writeShapes(ChannelTable& channels, const std::vector<VertexExtents>& perShape) {
  try {
    FileChannel& shp = channels.channel(toInt16(std::int64_t{shpChannel_}));
    FileChannel& shx = channels.channel(toInt16(std::int64_t{shxChannel_}));
    std::int32_t recordNumber = 1;
    return loop16(1, get_ShapeObjectCount(), [&](std::int16_t i) {
      auto index = static_cast<std::size_t>(i) - 1;
      const VertexExtents* known = index < perShape.size() ? &perShape[index] : nullptr;
      // The shapefile's type picks the layout of every record, whatever the shape's own type.
      bool written = true;
      switch (shapeType_) {
        case kelPoint:
          written =
              writePointShape(shapeObjects_->objectAt<ShapeObject>(i), recordNumber, shp, shx);
          break;
        case kelPolyLine:
        case kelPolygon:
          written = writePolyShape(shapeObjects_->objectAt<ShapeObject>(i), known, recordNumber,
                                   shp, shx);
          break;
        case kelMultiPoint:
          written = writeMultiPointShape(shapeObjects_->objectAt<ShapeObject>(i), known,
                                         recordNumber, shp, shx);
          break;
        default:
          break;
      }
      recordNumber = add32(recordNumber, 1);
      return written;
    });
  } catch (const std::exception& e) {
    noteFailure(u".shp", "the records cannot be written", e);
    return false;
  }
}

// Each record writer reports any failure as false; the records before it stay complete.
bool Shapefile::writePointShape(ShapeObject& shape, std::int32_t recordNumber, FileChannel& shp,
                                FileChannel& shx) {
  try {
    Ref<Coordinate> point = shape.getCoord(1);  // a point file's shape is its first vertex
    putRecordStart(shp, shx, recordNumber, shp::pointContentWords());
    shp.put<std::int32_t>(shapeType_);
    shp.put(deref(point).get_X());
    shp.put(point->get_Y());
    return true;
  } catch (const std::exception& e) {
    noteFailure(u".shp", "record " + std::to_string(recordNumber) + " cannot be written", e);
    return false;
  }
}

bool Shapefile::writeMultiPointShape(ShapeObject& shape, const VertexExtents* known,
                                     std::int32_t recordNumber, FileChannel& shp,
                                     FileChannel& shx) {
  try {
    setUnsetBox(shape, known);
    std::int32_t points = shape.get_CoordinateCount();
    putRecordStart(shp, shx, recordNumber, shp::multiPointContentWords(points));
    shp.put<std::int32_t>(shapeType_);
    putBox(shp, deref(shape.get_BoundingBox()));
    shp.put(points);
    putPoints(shp, shape, points);
    return true;
  } catch (const std::exception& e) {
    noteFailure(u".shp", "record " + std::to_string(recordNumber) + " cannot be written", e);
    return false;
  }
}

bool Shapefile::writePolyShape(ShapeObject& shape, const VertexExtents* known,
                               std::int32_t recordNumber, FileChannel& shp, FileChannel& shx) {
  try {
    setUnsetBox(shape, known);
    std::int32_t parts = shape.get_PartCount();
    std::int32_t points = shape.get_CoordinateCount();
    putRecordStart(shp, shx, recordNumber, shp::polyContentWords(parts, points));
    shp.put<std::int32_t>(shapeType_);
    putBox(shp, deref(shape.get_BoundingBox()));
    shp.put(parts);
    shp.put(points);
    loop16(1, toInt16(std::int64_t{parts}),
           [&](std::int16_t i) { shp.put<std::int32_t>(shape.getPart(i)); });
    putPoints(shp, shape, points);
    return true;
  } catch (const std::exception& e) {
    noteFailure(u".shp", "record " + std::to_string(recordNumber) + " cannot be written", e);
    return false;
  }
}

}  // namespace kel
