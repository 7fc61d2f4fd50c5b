#include "fuzz/Targets.h"

#include <exception>

#include "fuzz/FileSetFraming.h"
#include "fuzz/FuzzBytes.h"
#include "fuzz/ModelEdits.h"
#include "fuzz/Scratch.h"
#include "fuzz/WriteContract.h"
#include "kel/geojson/Geometry.h"
#include "support/ShapefileFixtures.h"

namespace kel::fuzz {

namespace {

using testing::Bytes;
using testing::ShapefileFiles;

std::string str(const testing::File& bytes) {
  return {bytes.begin(), bytes.end()};
}
std::string joined(const ShapefileFiles& f) {
  return joinFileSet(str(f.shp), str(f.shx), str(f.dbf));
}

volatile double walkSink = 0;

// Everything a caller could look at, looked at: the sanitizers see any freed or unset memory.
std::string walk(const Shapefile& file, bool readWhole) {
  double sum = 0;
  for (const Variant& item : deref(file.get_ShapeObjects())) {
    const ShapeObject& shape = item.deref<ShapeObject>();
    std::int32_t type = shape.get_ShapeType();
    if (type != kelPoint && type != kelPolyLine && type != kelPolygon && type != kelMultiPoint) {
      return "a shape of type " + std::to_string(type) + " was read";
    }
    if (type == kelPoint && shape.get_CoordinateCount() != 1) return "a Point without its vertex";
    for (const Variant& c : deref(shape.get_Coordinates())) {
      sum += c.deref<Coordinate>().get_X() + c.deref<Coordinate>().get_Y();
    }
    for (const Variant& p : deref(shape.get_Parts())) sum += p.toInt32();
    const BoundingBox& box = deref(shape.get_BoundingBox());
    sum += box.get_xMin() + box.get_yMin() + box.get_xMax() + box.get_yMax();
    for (const Variant& f : deref(deref(shape.get_Record()).get_Fields())) {
      sum += static_cast<double>(f.deref<RecordField>().value().size());
    }
    if (readWhole && deref(shape.get_Record()).get_FieldCount() == 0 &&
        file.get_TableDescription()->get_DescriptorCount() > 0) {
      return "a shape was read without its record";
    }
  }
  for (const Variant& d : deref(file.get_TableDescription()->get_TableDescriptors())) {
    sum += d.deref<TableDescriptor>().get_width();
  }
  walkSink = sum;  // keeps the walk from being dropped
  return "";
}

// The valid shapefiles that a round trip starts from.
const std::vector<ShapefileFiles>& roundTripBases() {
  static const std::vector<ShapefileFiles> bases = [] {
    using namespace testing;
    std::vector<ShapefileFiles> b;
    for (std::int32_t type : {kelPoint, kelPolyLine, kelPolygon, kelMultiPoint}) {
      b.push_back(sampleFiles(type));
    }
    b.push_back(shapefileOf(kelPolygon, {}, dbfFile(0, kSampleColumns)));  // no shapes
    b.push_back(shapefileOf(kelPolyLine,                                   // no columns
                            {shapeContent(kelPolyLine, {{1, 1}, {2, 3}, {4, 1}}, {0, 2}),
                             shapeContent(kelPolyLine, {{-1, 0}, {0, -1}})},
                            dbfFile(2)));
    return b;
  }();
  return bases;
}

// One of the round trip's shapefiles, as the input's first byte picks it, read.
Ref<Shapefile> readBase(FuzzBytes& bytes) {
  const Scratch& scratch = Scratch::instance();
  const auto& bases = roundTripBases();
  const ShapefileFiles& base = bases[bytes.below(static_cast<std::uint32_t>(bases.size()))];
  scratch.write("base.shp", str(base.shp));
  scratch.write("base.shx", str(base.shx));
  scratch.write("base.dbf", str(base.dbf));
  auto file = makeRef<Shapefile>();
  if (!file->readShapefile(scratch.basePath(), u"base")) return nullptr;
  return file;
}

// Whether a geometry has what its readers take without looking: the first point of a Point, the
// line of a MultiPoint or LineString, the polygon of a Polygon.
bool whole(const geojson::Geometry& g) {
  using geojson::GeometryType;
  switch (g.type) {
    case GeometryType::Null:
      return true;
    case GeometryType::Point:
      return !g.lines.empty() && !g.lines[0].empty();
    case GeometryType::MultiPoint:
    case GeometryType::LineString:
    case GeometryType::MultiLineString:
      return !g.lines.empty();
    case GeometryType::Polygon:
    case GeometryType::MultiPolygon:
      return !g.polygons.empty();
  }
  return false;
}

}  // namespace

std::string checkRead(std::string_view input) {
  try {
    const Scratch& scratch = Scratch::instance();
    FileSetBytes files = splitFileSet(input);
    scratch.write("in.shp", files.shp);
    scratch.write("in.shx", files.shx);
    scratch.write("in.dbf", files.dbf);
    auto file = makeRef<Shapefile>();
    long fds = openDescriptors();
    bool read = file->readShapefile(scratch.basePath(), u"in");
    if (openDescriptors() != fds) return "the read left a descriptor open";
    if (scratch.read("in.shp") != files.shp || scratch.read("in.shx") != files.shx ||
        scratch.read("in.dbf") != files.dbf) {
      return "the read changed its files";
    }
    if (std::string broken = walk(*file, read); !broken.empty()) return broken;
    return read ? writeAndCheck(*file) : "";
  } catch (const std::exception& e) {
    return std::string("raised to the caller: ") + e.what();
  }
}

std::string checkRoundTrip(std::string_view input) {
  try {
    FuzzBytes bytes(input);
    Ref<Shapefile> file = readBase(bytes);
    if (!file) return "a sample did not read";
    applyEdits(*file, bytes);
    return writeAndCheck(*file);
  } catch (const std::exception& e) {
    return std::string("raised to the caller: ") + e.what();
  }
}

std::string checkGeoJson(std::string_view input) {
  try {
    FuzzBytes bytes(input);
    Ref<Shapefile> file = readBase(bytes);
    if (!file) return "a sample did not read";
    applyEdits(*file, bytes, Nothing::Everywhere);
    for (const Variant& item : deref(file->get_ShapeObjects())) {
      try {
        const ShapeObject& shape = item.deref<ShapeObject>();
        std::int32_t type = geojson::drawnType(shape, file->get_ShapeType());
        if (!whole(geojson::geometryOf(type, shape))) return "a geometry without its parts";
        geojson::propertiesOf(shape);
      } catch (const Error&) {
        // The shape cannot be drawn, as a caller is told.
      }
    }
    long fds = openDescriptors();
    file->writeShapefile(Scratch::instance().basePath(), u"geo");
    if (openDescriptors() != fds) return "the write left a descriptor open";
    return "";
  } catch (const std::exception& e) {
    return std::string("raised to the caller: ") + e.what();
  }
}

std::vector<Seed> readSeeds() {
  using namespace testing;
  std::vector<Seed> seeds;
  for (std::int32_t type : {kelPoint, kelPolyLine, kelPolygon, kelMultiPoint}) {
    seeds.emplace_back("sample-" + std::to_string(type), joined(sampleFiles(type)));
  }
  const Pts square = {{0, 0}, {0, 4}, {4, 4}, {4, 0}, {0, 0}};
  const Pts hole = {{1, 1}, {2, 1}, {2, 2}, {1, 2}, {1, 1}};
  Pts both = square;
  both.insert(both.end(), hole.begin(), hole.end());
  seeds.emplace_back("empty", joined(shapefileOf(kelPolygon, {}, dbfFile(0, kSampleColumns))));
  seeds.emplace_back(
      "no-columns",
      joined(shapefileOf(kelPolyLine, {shapeContent(kelPolyLine, square)}, dbfFile(1))));
  seeds.emplace_back(
      "mixed-poly-types",
      joined(
          shapefileOf(kelPolygon,
                      {shapeContent(kelPolygon, both, {0, 5}),
                       shapeContent(kelPolyLine, square, {0, 2}), shapeContent(kelPolygon, hole)},
                      dbfFile(3, {{"ID", 'N', 4}}, {"    1", "*   2", "    3"}))));
  seeds.emplace_back("null-record",
                     joined(shapefileOf(kelPoint,
                                        {shapeContent(kelPoint, {{1, 1}}), Bytes().i32le(0),
                                         shapeContent(kelPoint, {{2, 2}})},
                                        dbfFile(3))));
  seeds.emplace_back(
      "odd-names",
      joined(shapefileOf(
          kelMultiPoint, {shapeContent(kelMultiPoint, hole)},
          dbfFile(
              1, {{"TEN_CHARSX", 'C', 3}, {std::string("A\0B", 3), 'D', 8}, {"TEN_CHARSX", 'L', 1}},
              {" abc20260305T"}))));
  ShapefileFiles lying = sampleFiles(kelPolyLine);
  putBigEndian(lying.shx, 24, 0x7FFFFFFF);  // half a billion records announced
  seeds.emplace_back("lying-index", joined(lying));
  return seeds;
}

std::vector<Seed> roundTripSeeds() {
  std::vector<Seed> seeds;
  for (std::size_t base = 0; base < roundTripBases().size(); ++base) {
    seeds.emplace_back("base-" + std::to_string(base), std::string(1, static_cast<char>(base)));
  }
  // A few edits of each kind on the PolyLine sample: a vertex, a part, a shape, a field, a column.
  seeds.emplace_back("edits", std::string("\x01\x00\x00\x05\x00\x07\x03\x01\x07\x0b\x00\x02"
                                          "\x07\x00\x03\x41\x42\x43\x04\x78\x79\x7a\x7a\x0e\x02"
                                          "\x4e\x4d\x00\x05\x00",
                                          31));
  return seeds;
}

std::vector<Seed> geoJsonSeeds() {
  std::vector<Seed> seeds;
  for (std::size_t base = 0; base < roundTripBases().size(); ++base) {
    seeds.emplace_back("base-" + std::to_string(base), std::string(1, static_cast<char>(base)));
  }
  // Each edit that puts Nothing or a wrong entry somewhere, on the first shape of the PolyLine
  // and the Polygon sample: the edit (18), the shape, what is set, and what that edit reads.
  for (char base : {'\x01', '\x02'}) {
    for (char what = 0; what < 12; ++what) {
      std::string input = {base, '\x12', '\x00', what};
      if (what == 10) input += '\x01';                      // the other shape
      if (what == 11) input += std::string("\x01\x00", 2);  // the parts, and a second entry
      seeds.emplace_back("nothing-" + std::to_string(base) + "-" + std::to_string(what), input);
    }
  }
  return seeds;
}

}  // namespace kel::fuzz
