#include <algorithm>
#include <exception>
#include <limits>
#include <optional>

#include "runtime/Checked.h"
#include "shapefile/Shapefile.h"

namespace kel {

// The vertices of one read come from a few large blocks rather than one allocation a shape: a
// block is sized by the points that the rest of the main file can hold, at most 65535, and a new
// one is begun when a shape does not fit in what is left of the current one.
class VertexSupply {
 public:
  ObjectBlock<Coordinate>& blockFor(std::int16_t points, const FileChannel& shp) {
    if (!block_ || block_->room() < static_cast<std::size_t>(points)) {
      std::int64_t fit = (shp.length() - shp.position()) / shp::kPointBytes;
      block_.emplace(static_cast<std::size_t>(std::clamp<std::int64_t>(
          fit, points, static_cast<std::int64_t>(ObjectBlock<Coordinate>::kMaxCapacity))));
    }
    return *block_;
  }

 private:
  std::optional<ObjectBlock<Coordinate>> block_;
};

namespace {

void getBox(FileChannel& shp, BoundingBox& box) {
  box.put_xMin(shp.get<double>());
  box.put_yMin(shp.get<double>());
  box.put_xMax(shp.get<double>());
  box.put_yMax(shp.get<double>());
}

// Reads n X/Y pairs into new Coordinates. Points that the rest of the file cannot hold fail the
// record before anything is made for them, so a lying count costs nothing.
void getPoints(FileChannel& shp, ShapeObject& shape, std::int16_t n, VertexSupply& vertices) {
  if (n <= 0) return;
  if (shp.length() - shp.position() < std::int64_t{n} * shp::kPointBytes) {
    raise(ErrorNumber::InputPastEndOfFile);
  }
  // Points are counted with a 16-bit counter, which cannot step past the last of 32767.
  if (n == std::numeric_limits<std::int16_t>::max()) raise(ErrorNumber::Overflow);
  Collection& coordinates = deref(shape.get_Coordinates());
  coordinates.reserve(coordinates.count() + n);
  ObjectBlock<Coordinate>& block = vertices.blockFor(n, shp);
  constexpr int kChunk = 256;  // points moved out of the channel at a time
  double xy[2 * kChunk];
  for (int done = 0; done < n;) {
    int chunk = std::min(kChunk, n - done);
    shp.get(xy, sizeof(double) * 2 * static_cast<std::size_t>(chunk));
    for (int i = 0; i < chunk; ++i) {
      Ref<Coordinate> coordinate = block.make();
      coordinate->setCoordinate(xy[2 * i], xy[2 * i + 1]);
      coordinates.add(Variant(std::move(coordinate)));
    }
    done += chunk;
  }
}

}  // namespace

bool Shapefile::readShapes(ChannelTable& channels) {
  try {
    FileChannel& shp = channels.channel(toInt16(std::int64_t{shpChannel_}));
    VertexSupply vertices;
    for (std::int32_t i = 1; i <= indexRecordCount_; i = add32(i, 1)) {
      // Each record's type picks the reader of the next one.
      Ref<ShapeObject> shape;
      switch (shapeType_) {
        case kelPoint:
          shape = readPointShape(shp, vertices);
          break;
        case kelPolyLine:
        case kelPolygon:
          shape = readPolyShape(shp, vertices);
          break;
        case kelMultiPoint:
          shape = readMultiPointShape(shp, vertices);
          break;
        default:
          // No reader takes this type, so no pass left would read anything or change the type.
          return true;
      }
      if (shape->get_ShapeType() == kelUndefined) return false;
      shapeObjects_->add(Variant(shape));
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::int32_t Shapefile::readRecordStart(FileChannel& shp) {
  recordHeader_.recordNumber = shp::swapBytes(shp.get<std::int32_t>());
  recordHeader_.contentLength = shp::swapBytes(shp.get<std::int32_t>());
  shapeType_ = static_cast<ShapeTypeConstants>(shp.get<std::int32_t>());
  return shapeType_;
}

// Each record reader answers a record it cannot read, for whatever reason, with a new shape of
// type kelUndefined, which ends the reading.
Ref<ShapeObject> Shapefile::readPointShape(FileChannel& shp, VertexSupply& vertices) {
  try {
    if (readRecordStart(shp) != kelPoint) return makeRef<ShapeObject>();
    double x = shp.get<double>();
    double y = shp.get<double>();
    Ref<Coordinate> coordinate = vertices.blockFor(1, shp).make();
    coordinate->setCoordinate(x, y);
    auto shape = makeRef<ShapeObject>();
    shape->addCoord(coordinate);
    shape->put_ShapeType(shapeType_);
    return shape;
  } catch (const std::exception&) {
    return makeRef<ShapeObject>();
  }
}

Ref<ShapeObject> Shapefile::readMultiPointShape(FileChannel& shp, VertexSupply& vertices) {
  try {
    if (readRecordStart(shp) != kelMultiPoint) return makeRef<ShapeObject>();
    auto shape = makeRef<ShapeObject>();
    getBox(shp, deref(shape->get_BoundingBox()));
    std::int32_t points = shp.get<std::int32_t>();
    getPoints(shp, *shape, toInt16(std::int64_t{points}), vertices);
    shape->put_ShapeType(shapeType_);
    return shape;
  } catch (const std::exception&) {
    return makeRef<ShapeObject>();
  }
}

Ref<ShapeObject> Shapefile::readPolyShape(FileChannel& shp, VertexSupply& vertices) {
  try {
    std::int32_t type = readRecordStart(shp);
    if (type != kelPolyLine && type != kelPolygon) return makeRef<ShapeObject>();
    auto shape = makeRef<ShapeObject>();
    getBox(shp, deref(shape->get_BoundingBox()));
    std::int32_t parts = shp.get<std::int32_t>();
    std::int32_t points = shp.get<std::int32_t>();
    // addPart drops every start of 0, so the file's first start does not double the shape's own.
    std::int16_t partCount = toInt16(std::int64_t{parts});
    if (partCount > 0 && shp.length() - shp.position() >= std::int64_t{partCount} * 4) {
      deref(shape->get_Parts()).reserve(partCount);
    }
    loop16(1, partCount, [&](std::int16_t) { shape->addPart(shp.get<std::int32_t>()); });
    getPoints(shp, *shape, toInt16(std::int64_t{points}), vertices);
    shape->put_ShapeType(shapeType_);
    return shape;
  } catch (const std::exception&) {
    return makeRef<ShapeObject>();
  }
}

}  // namespace kel
