#include <algorithm>
#include <exception>
#include <limits>
#include <optional>

#include "kel/format/Endian.h"
#include "kel/format/MainFile.h"
#include "kel/format/ShapeRecord.h"
#include "kel/runtime/Checked.h"
#include "kel/shapefile/DriverState.h"
#include "kel/shapefile/Shapefile.h"

namespace kel {

namespace {

// The fields of a record that lie between its shape type and `to`, as the codec lays them out;
// the shape type has been read. Offsets into the result are the codec's, less the type's four.
struct Fields {
  unsigned char bytes[40];  // up to a line's or a polygon's part starts, the furthest
  double get(std::uint64_t at) const { return format::loadLE<double>(bytes + at - 4); }
  std::int32_t count(std::uint64_t at) const {
    return format::loadLE<std::int32_t>(bytes + at - 4);
  }
};

format::ContentLayout layoutOf(format::ShapeType type) {
  return format::contentLayout(*format::traitsOf(static_cast<std::int32_t>(type)), 0, 0);
}

Fields getFields(FileChannel& shp, std::uint64_t to) {
  Fields f;
  if (to - 4 > sizeof f.bytes) raise(ErrorNumber::Overflow);
  shp.get(f.bytes, static_cast<std::size_t>(to - 4));
  return f;
}

void putBox(const Fields& f, const format::ContentLayout& l, BoundingBox& box) {
  box.setBoundingBox(f.get(l.box), f.get(l.box + 8), f.get(l.box + 16), f.get(l.box + 24));
}

// Reads n X/Y pairs into a row of new Coordinates that the shape's empty list takes over. Points
// that the rest of the file cannot hold fail the record before anything is made for them, so a
// lying count costs nothing.
void getPoints(FileChannel& shp, ShapeObject& shape, std::int16_t n, ObjectArena& arena) {
  if (n <= 0) return;
  if (shp.length() - shp.position() < std::int64_t{n} * shp::kPointBytes) {
    raise(ErrorNumber::InputPastEndOfFile);
  }
  // Points are counted with a 16-bit counter, which cannot step past the last of 32767.
  if (n == std::numeric_limits<std::int16_t>::max()) raise(ErrorNumber::Overflow);
  Coordinate* row = arena.makeRow<Coordinate>(static_cast<std::size_t>(n));
  // The list holds the row before anything can fail, so that a failed read leaks nothing.
  deref(shape.get_Coordinates()).adoptRow(row, n, sizeof(Coordinate));
  constexpr int kChunk = 256;  // points moved out of the channel at a time
  double xy[2 * kChunk];
  for (int done = 0; done < n;) {
    int chunk = std::min(kChunk, n - done);
    shp.getArray(xy, 2 * static_cast<std::size_t>(chunk));
    for (int i = 0; i < chunk; ++i) row[done + i].setCoordinate(xy[2 * i], xy[2 * i + 1]);
    done += chunk;
  }
}

}  // namespace

bool Shapefile::readShapes(ChannelTable& channels) {
  try {
    FileChannel& shp = channels.channel(toInt16(std::int64_t{driver_->shpChannel_}));
    ObjectArena arena;
    for (std::int32_t i = 1; i <= driver_->indexRecordCount_; i = add32(i, 1)) {
      // Each record's type picks the reader of the next one.
      Ref<ShapeObject> shape;
      switch (shapeType_) {
        case kelPoint:
          shape = readPointShape(shp, arena);
          break;
        case kelPolyLine:
        case kelPolygon:
          shape = readPolyShape(shp, arena);
          break;
        case kelMultiPoint:
          shape = readMultiPointShape(shp, arena);
          break;
        default:
          // No reader takes this type, so no pass left would read anything or change the type.
          return true;
      }
      if (shape->get_ShapeType() == kelUndefined) return false;
      shapeObjects_->addObject(shape.get());
    }
    return true;
  } catch (const std::exception& e) {
    noteFailure(u".shp", "the records cannot be read", e);
    return false;
  }
}

std::int32_t Shapefile::readRecordStart(FileChannel& shp) {
  unsigned char header[format::kRecordHeaderBytes];
  shp.get(header, sizeof header);
  driver_->recordHeader_ = format::RecordHeader::decode(header);
  shapeType_ = static_cast<ShapeTypeConstants>(shp.get<std::int32_t>());
  return shapeType_;
}

// Each record reader answers a record it cannot read, for whatever reason, with a new shape of
// type kelUndefined, which ends the reading.
Ref<ShapeObject> Shapefile::readPointShape(FileChannel& shp, ObjectArena& arena) {
  try {
    if (readRecordStart(shp) != kelPoint) return makeRef<ShapeObject>();
    format::ContentLayout l = layoutOf(format::ShapeType::Point);
    Fields f = getFields(shp, l.z);
    double x = f.get(l.points);
    double y = f.get(l.points + 8);
    auto shape = arena.make<ShapeObject>(arena);
    Coordinate* coordinate = arena.makeRow<Coordinate>(1);
    shape->get_Coordinates()->adoptRow(coordinate, 1, sizeof(Coordinate));
    coordinate->setCoordinate(x, y);
    shape->put_ShapeType(shapeType_);
    return shape;
  } catch (const std::exception& e) {
    noteFailure(u".shp", "a record cannot be read", e);
    return makeRef<ShapeObject>();
  }
}

Ref<ShapeObject> Shapefile::readMultiPointShape(FileChannel& shp, ObjectArena& arena) {
  try {
    if (readRecordStart(shp) != kelMultiPoint) return makeRef<ShapeObject>();
    format::ContentLayout l = layoutOf(format::ShapeType::MultiPoint);
    Fields f = getFields(shp, l.points);
    auto shape = arena.make<ShapeObject>(arena);
    putBox(f, l, deref(shape->get_BoundingBox()));
    std::int32_t points = f.count(l.pointCount);
    getPoints(shp, *shape, toInt16(std::int64_t{points}), arena);
    shape->put_ShapeType(shapeType_);
    return shape;
  } catch (const std::exception& e) {
    noteFailure(u".shp", "a record cannot be read", e);
    return makeRef<ShapeObject>();
  }
}

Ref<ShapeObject> Shapefile::readPolyShape(FileChannel& shp, ObjectArena& arena) {
  try {
    std::int32_t type = readRecordStart(shp);
    if (type != kelPolyLine && type != kelPolygon) return makeRef<ShapeObject>();
    format::ContentLayout l = layoutOf(format::ShapeType::PolyLine);
    Fields f = getFields(shp, l.partStarts);
    std::int32_t parts = f.count(l.partCount);
    std::int32_t points = f.count(l.pointCount);
    std::int16_t partCount = toInt16(std::int64_t{parts});
    // The part list is made with room for every start the record holds, unless the count lies.
    bool partsFit = partCount > 0 && shp.length() - shp.position() >= std::int64_t{partCount} * 4;
    auto shape = arena.make<ShapeObject>(arena, partsFit ? partCount : std::int16_t{1});
    putBox(f, l, deref(shape->get_BoundingBox()));
    // addPart drops every start of 0, so the file's first start does not double the shape's own.
    loop16(1, partCount, [&](std::int16_t) { shape->addPart(shp.get<std::int32_t>()); });
    getPoints(shp, *shape, toInt16(std::int64_t{points}), arena);
    shape->put_ShapeType(shapeType_);
    return shape;
  } catch (const std::exception& e) {
    noteFailure(u".shp", "a record cannot be read", e);
    return makeRef<ShapeObject>();
  }
}

}  // namespace kel
