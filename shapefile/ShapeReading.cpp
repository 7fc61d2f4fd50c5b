#include <algorithm>
#include <exception>
#include <limits>
#include <optional>
#include <string>

#include "kel/format/Endian.h"
#include "kel/format/MainFile.h"
#include "kel/format/ShapeRecord.h"
#include "kel/runtime/Checked.h"
#include "kel/runtime/ObjectArena.h"
#include "kel/shapefile/ReadDriver.h"
#include "kel/shapefile/Shapefile.h"

namespace kel {

namespace {

// Points and parts of a shape are counted in 16 bits by a counter that must step past the last.
constexpr std::int64_t kMostInShape = 32766;

// The fields of a record that lie between its shape type and `to`, as the codec lays them out;
// the shape type has been read. Offsets into the result are the codec's, less the type's four.
struct Fields {
  unsigned char bytes[40];  // up to a line's or a polygon's part starts, the furthest
  double get(std::uint64_t at) const { return format::loadLE<double>(bytes + at - 4); }
  std::int32_t count(std::uint64_t at) const {
    return format::loadLE<std::int32_t>(bytes + at - 4);
  }
};

Fields getFields(FileChannel& shp, std::uint64_t to) {
  Fields f;
  if (to - 4 > sizeof f.bytes) raise(ErrorNumber::Overflow);
  shp.get(f.bytes, static_cast<std::size_t>(to - 4));
  return f;
}

void putBox(const Fields& f, const format::ContentLayout& l, BoundingBox& box) {
  box.setBoundingBox(f.get(l.box), f.get(l.box + 8), f.get(l.box + 16), f.get(l.box + 24));
}

// Reads n X/Y pairs, which the file holds, into a row of new Coordinates that the shape's empty
// list takes over.
void getPoints(FileChannel& shp, ShapeObject& shape, std::int16_t n, ObjectArena& arena) {
  if (n <= 0) return;
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

// Whether the reader of the last record's type takes a record: lines and polygons take each
// other's, the others only their own.
bool takes(std::int32_t current, std::int32_t record) {
  bool poly = current == kelPolyLine || current == kelPolygon;
  return poly ? record == kelPolyLine || record == kelPolygon : record == current;
}

// Why a count of points or parts is refused: a shape counts them with a 16-bit counter that must
// step past the last, and a negative count reads nothing.
std::optional<std::string> countRefused(std::int64_t n, const char* what) {
  if (n > kMostInShape) {
    return "the record counts " + std::to_string(n) + " " + what + ", more than the 32,766 the object model " +
           "takes: it refuses the file";
  }
  if (n < std::numeric_limits<std::int16_t>::min()) {
    return "the record counts " + std::to_string(n) + " " + what +
           ", which the object model cannot count in 16 bits: it refuses the file";
  }
  return std::nullopt;
}

const char* const kPastTheEnd =
    "the record's fields run past the end of the file: the object model refuses it";

}  // namespace

std::string ReadDriver::typeName(std::int32_t code) {
  std::optional<format::ShapeTypeTraits> t = format::traitsOf(code);
  return t ? std::string(t->name) : "type " + std::to_string(code);
}

bool ReadDriver::hasReader(std::int32_t type) {
  return type == kelPoint || type == kelPolyLine || type == kelPolygon || type == kelMultiPoint;
}

bool ReadDriver::readShapes() {
  try {
    FileChannel& shp = set_[0];
    Collection& shapes = deref(file_.get_ShapeObjects());
    ObjectArena arena;
    // No reader takes the type: the read takes no record and goes on to the table.
    if (!hasReader(type_)) return true;
    for (std::int32_t i = 1; i <= announced_; i = add32(i, 1)) {
      Ref<ShapeObject> shape = readShape(shp, i - 1, arena);
      if (!shape) return false;
      shapes.addObject(shape.get());
    }
    if (diverged_) {
      tell(format::Severity::Irregularity, u".shp", diverged_->at + format::kContentLengthAt,
           diverged_->record,
           backToBack() + ", not byte " +
               std::to_string(diverged_->at + format::kRecordHeaderBytes + diverged_->claimed));
    }
    return true;
  } catch (const std::exception& e) {
    return caught(u".shp", "the records cannot be read", e);
  }
}

std::string ReadDriver::backToBack() const {
  return "the record's content length is " + std::to_string(diverged_->claimed) + " bytes, its fields " +
         std::to_string(diverged_->fields) +
         ": the object model reads the records back to back, so it takes byte " +
         std::to_string(diverged_->at + format::kRecordHeaderBytes + diverged_->fields) +
         " for the start of the next record";
}

bool ReadDriver::refuseRecord(std::int64_t offset, std::int64_t record, std::string sentence) {
  if (diverged_) {
    return refuse(u".shp", diverged_->at + format::kContentLengthAt, diverged_->record,
                  backToBack() + ", and it refuses what it finds there");
  }
  return refuse(u".shp", offset, record, std::move(sentence));
}

// The record at the channel's position, read as far as its fields go, whatever its content
// length says: its header, its type, which becomes the shapefile's, and the fields of that type.
Ref<ShapeObject> ReadDriver::readShape(FileChannel& shp, std::int32_t record, ObjectArena& arena) {
  using namespace format;
  try {
    const std::int64_t at = shp.position(), size = shp.length();
    const std::int64_t content = at + kRecordHeaderBytes;
    if (size - at < kRecordHeaderBytes + 4) {
      if (size == at && !diverged_) {
        refuse(u".shx", kFileLengthAt, -1,
               "the file length counts " + std::to_string(announced_) + " records; the main file holds " +
                   std::to_string(record) + ": the object model reads as many as the index counts and " +
                   "refuses the file");
      } else {
        refuseRecord(at, record, kPastTheEnd);
      }
      return nullptr;
    }
    unsigned char header[kRecordHeaderBytes];
    shp.get(header, sizeof header);
    RecordHeader rh = RecordHeader::decode(header);
    auto type = shp.get<std::int32_t>();
    file_.put_ShapeType(static_cast<ShapeTypeConstants>(type));
    if (type == kelUndefined) {
      refuseRecord(content, record,
                   "a null shape: the object model stops reading there and refuses the file");
      return nullptr;
    }
    if (!takes(type_, type)) {
      refuseRecord(content, record,
                   "a " + typeName(type) + " record where the object model reads a " +
                       typeName(type_) + ": it refuses the file");
      return nullptr;
    }
    type_ = type;
    const ShapeTypeTraits traits = *traitsOf(type);
    ContentLayout l = contentLayout(traits, 0, 1);
    // The fields before the arrays: a point's X and Y, or the box and the counts.
    const bool point = traits.geometry == Geometry::Point;
    const std::uint64_t fixed = point ? l.end : l.points;
    if (size - content < static_cast<std::int64_t>(fixed)) {
      refuseRecord(at, record, kPastTheEnd);
      return nullptr;
    }
    Fields f = getFields(shp, fixed);
    Ref<ShapeObject> shape;
    if (point) {
      shape = arena.make<ShapeObject>(arena);
      Coordinate* coordinate = arena.makeRow<Coordinate>(1);
      shape->get_Coordinates()->adoptRow(coordinate, 1, sizeof(Coordinate));
      coordinate->setCoordinate(f.get(l.points), f.get(l.points + 8));
    } else {
      const bool poly = traits.geometry != Geometry::MultiPoint;
      std::int64_t parts = poly ? f.count(l.partCount) : 0, points = f.count(l.pointCount);
      if (auto why = countRefused(parts, "parts")) {
        refuseRecord(content + static_cast<std::int64_t>(l.partCount), record, *why);
        return nullptr;
      }
      if (auto why = countRefused(points, "points")) {
        refuseRecord(content + static_cast<std::int64_t>(l.pointCount), record, *why);
        return nullptr;
      }
      l = contentLayout(traits, static_cast<std::uint64_t>(std::max<std::int64_t>(parts, 0)),
                        static_cast<std::uint64_t>(std::max<std::int64_t>(points, 0)));
      if (size - content < static_cast<std::int64_t>(l.end)) {
        refuseRecord(at, record, kPastTheEnd);
        return nullptr;
      }
      if (!poly) {
        shape = arena.make<ShapeObject>(arena);
      } else {
        // The part list is made with room for every start the record holds.
        shape = arena.make<ShapeObject>(arena, parts > 0 ? static_cast<std::int16_t>(parts)
                                                         : std::int16_t{1});
        readPartStarts(shp, *shape, content + static_cast<std::int64_t>(l.partCount), record,
                       parts);
      }
      putBox(f, l, deref(shape->get_BoundingBox()));
      getPoints(shp, *shape, static_cast<std::int16_t>(points), arena);
    }
    shape->put_ShapeType(static_cast<ShapeTypeConstants>(type));
    std::int64_t claimed = std::int64_t{rh.contentLength} * 2;
    auto fields = static_cast<std::int64_t>(l.end);
    if (claimed != fields && record + 1 < announced_ && !diverged_) {
      diverged_ = Divergence{record, at, claimed, fields};
    }
    return shape;
  } catch (const std::exception& e) {
    caught(u".shp", "a record cannot be read", e);
    return nullptr;
  }
}

// A new shape has a part at point 0 of its own, and addPart adds every start but 0 to it: the
// first start that the object model does not take as it lies is told.
void ReadDriver::readPartStarts(FileChannel& shp, ShapeObject& shape, std::int64_t partCountAt,
                                std::int32_t record, std::int64_t parts) {
  if (parts <= 0) {
    tell(format::Severity::Irregularity, u".shp", partCountAt, record,
         "the record has no parts; the object model gives it one, starting at point 0");
  }
  bool told = false;
  std::int64_t startsAt = partCountAt + 8;  // behind the part and point counts
  for (std::int64_t j = 0; j < parts; ++j) {
    auto start = shp.get<std::int32_t>();
    if (!told && (j == 0) != (start == 0)) {
      tell(format::Severity::Irregularity, u".shp", startsAt + 4 * j, record,
           j == 0 ? "part 1 starts at point " + std::to_string(start) +
                        "; the object model adds a part at point 0 before it"
                  : "part " + std::to_string(j + 1) + " starts at point 0; the object model drops it");
      told = true;
    }
    shape.addPart(start);
  }
}

}  // namespace kel
