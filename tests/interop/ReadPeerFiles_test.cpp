// Shapefiles written by GDAL, shapelib and pyshp, read by us and held against what shpdump,
// dbfdump and pyshp's Reader report for the very same files.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "interop/PeerTools.h"
#include "support/TempDir.h"

namespace {

using namespace kel;
using namespace kel::interop;
using kel::testing::TempDir;

Ref<Shapefile> readWithUs(const TempDir& dir, const std::string& stem) {
  auto file = makeRef<Shapefile>();
  std::u16string base = dir.u16() + u"/", name = toUtf16(stem);
  EXPECT_TRUE(file->readShapefile(base, name)) << "reading " << stem;
  return file;
}

std::vector<double> boxOf(const BoundingBox& b) {
  return {b.get_xMin(), b.get_yMin(), b.get_xMax(), b.get_yMax()};
}

// Every coordinate is compared exactly: the tools report the stored doubles without rounding.
void expectGeometry(const Shapefile& file, const PeerGeometry& peer) {
  EXPECT_EQ(file.get_ShapeType(), peer.type);
  EXPECT_EQ(boxOf(*file.get_BoundingBox()), peer.box);
  ASSERT_EQ(file.get_ShapeObjectCount(), static_cast<int>(peer.shapes.size()));
  for (std::int16_t i = 1; i <= file.get_ShapeObjectCount(); ++i) {
    SCOPED_TRACE("shape " + std::to_string(i));
    Ref<ShapeObject> shape = file.getShapeObject(i);
    const PeerShape& expected = peer.shapes[i - 1];
    EXPECT_EQ(shape->get_ShapeType(), expected.type);
    // A point record stores no box, so only the other types have one to compare.
    if (expected.type != kelPoint) {
      EXPECT_EQ(boxOf(*shape->get_BoundingBox()), expected.box);
    }
    std::vector<std::int32_t> parts;
    for (std::int16_t p = 1; p <= shape->get_PartCount(); ++p) parts.push_back(shape->getPart(p));
    // Every shape of ours starts a part at 0, points and multipoints included.
    EXPECT_EQ(parts, expected.parts.empty() ? std::vector<std::int32_t>{0} : expected.parts);
    ASSERT_EQ(shape->get_CoordinateCount(), static_cast<int>(expected.points.size()));
    for (std::int16_t c = 1; c <= shape->get_CoordinateCount(); ++c) {
      EXPECT_EQ(shape->getCoord(c)->get_X(), expected.points[c - 1].first) << "vertex " << c;
      EXPECT_EQ(shape->getCoord(c)->get_Y(), expected.points[c - 1].second) << "vertex " << c;
    }
  }
}

// Checks our raw text against a tool's typed reading of the same field: pyshp's values, or
// dbfdump's, which prints numbers anew from their value with the column's decimals.
void expectTyped(char type, const std::string& ours, const std::string& typed) {
  if (type == 'C' || type == 'D') {
    EXPECT_EQ(trim(ours), typed);
  } else if (type == 'N' || type == 'F') {
    EXPECT_EQ(std::strtod(ours.c_str(), nullptr), std::strtod(typed.c_str(), nullptr)) << ours;
  }
  if (type == 'L') {
    ASSERT_EQ(ours.size(), 1u);
    EXPECT_NE(std::string(typed == "T" ? "TtYy" : "FfNn").find(ours), std::string::npos) << ours;
  }
}

void expectTable(const Shapefile& file, const PeerTable& peer) {
  const TableDescription& table = *file.get_TableDescription();
  ASSERT_EQ(table.get_DescriptorCount(), static_cast<int>(peer.fields.size()));
  for (std::int16_t i = 1; i <= table.get_DescriptorCount(); ++i) {
    Ref<TableDescriptor> column = table.getTableDescriptorByIndex(i);
    const PeerField& expected = peer.fields[i - 1];
    EXPECT_EQ(toUtf8(column->get_name()), expected.name);
    EXPECT_EQ(column->get_fieldType(), expected.type) << expected.name;
    EXPECT_EQ(column->get_width(), expected.width) << expected.name;
    EXPECT_EQ(column->get_precision(), expected.decimals) << expected.name;
  }
  ASSERT_EQ(file.get_ShapeObjectCount(), static_cast<int>(peer.rows.size()));
  for (std::int16_t r = 1; r <= file.get_ShapeObjectCount(); ++r) {
    Ref<Record> record = file.getShapeObject(r)->get_Record();
    ASSERT_EQ(record->get_FieldCount(), static_cast<int>(peer.fields.size()));
    ASSERT_EQ(peer.rows[r - 1].size(), peer.fields.size());
    for (std::int16_t i = 1; i <= record->get_FieldCount(); ++i) {
      const PeerField& column = peer.fields[i - 1];
      const PeerValue& expected = peer.rows[r - 1][i - 1];
      SCOPED_TRACE("record " + std::to_string(r) + " field " + column.name);
      Ref<RecordField> field = record->getFieldByIndex(i);
      EXPECT_EQ(toUtf8(field->get_name()), column.name);
      std::string value = toUtf8(field->get_value());
      // Values keep the whole field: one Windows-1252 byte is one character.
      EXPECT_EQ(field->get_value().size(), static_cast<std::size_t>(column.width));
      if (peer.raw) {
        EXPECT_EQ(value, expected.text);
        if (!expected.null) expectTyped(column.type, value, expected.parsed);
      } else if (expected.null) {
        EXPECT_TRUE(trim(value).empty() || value == std::string(column.width, '*')) << value;
      } else {
        expectTyped(column.type, value, expected.text);
      }
    }
  }
}

// Reads dir/stem with us and compares with shpdump, pyshp and, when asked, dbfdump.
Ref<Shapefile> expectAgreesWithPeers(const TempDir& dir, const std::string& stem,
                                     bool withDbfdump) {
  SCOPED_TRACE(stem);
  Ref<Shapefile> file = readWithUs(dir, stem);
  std::string base = dir.str() + "/" + stem;
  expectGeometry(*file, shpdump(base + ".shp"));
  auto [geometry, table] = pyshpDump(dir.str(), stem);
  expectGeometry(*file, geometry);
  expectTable(*file, table);
  if (withDbfdump) expectTable(*file, dbfdump(base + ".dbf"));
  return file;
}

void writeText(const TempDir& dir, const std::string& name, const std::string& text) {
  std::ofstream(dir / name, std::ios::binary) << text;
}

void ogr2ogr(const TempDir& dir, const std::string& stem, const std::vector<std::string>& features,
             const std::string& options = "") {
  std::string json = R"({"type": "FeatureCollection", "features": [)";
  for (const std::string& f : features) json += (&f == &features[0] ? "" : ", ") + f;
  writeText(dir, stem + ".geojson", json + "]}");
  run("ogr2ogr -f 'ESRI Shapefile' -lco ENCODING=CP1252 " + options + " " +
      quote(dir.str() + "/" + stem + ".shp") + " " + quote(dir.str() + "/" + stem + ".geojson"));
}

std::string feature(const std::string& properties, const std::string& type,
                    const std::string& coordinates) {
  return R"({"type": "Feature", "properties": {)" + properties + R"(}, "geometry": {"type": ")" +
         type + R"(", "coordinates": )" + coordinates + "}}";
}

TEST(ReadPeerFilesTest, GdalPointsKeepCoordinatesNumbersAndWindows1252Text) {
  TempDir dir;
  // The names are UTF-8 in the GeoJSON; GDAL recodes them into Windows-1252 for the table.
  const std::vector<std::string> names = {"Café é", "€ ß œ Ž", "", "plain"};
  auto props = [&](int i, const char* rest) { return R"("name": ")" + names[i] + "\", " + rest; };
  ogr2ogr(
      dir, "points",
      {feature(props(0, R"("count": 42, "amount": 3.25)"), "Point", "[0.1, -2.7]"),
       feature(props(1, R"("count": -7, "amount": null)"), "Point", "[-179.99999999999997, 1e-7]"),
       feature(props(2, R"("count": null, "amount": -0.5)"), "Point",
               "[123456.78901234567, 89.123456789012345]"),
       feature(props(3, R"("count": 0, "amount": 12345678.125)"), "Point", "[0, 0]")});
  Ref<Shapefile> file = expectAgreesWithPeers(dir, "points", true);
  ASSERT_EQ(file->get_ShapeObjectCount(), 4);
  for (std::int16_t i = 1; i <= 4; ++i) {
    Ref<RecordField> name = file->getShapeObject(i)->get_Record()->getFieldByName(u"name");
    EXPECT_EQ(trim(toUtf8(name->get_value())), names[i - 1]);
  }
}

TEST(ReadPeerFilesTest, GdalMultiPointsLinesAndPolygonsKeepEveryPart) {
  TempDir dir;
  // A lone point among multipoints is promoted, as GDAL refuses it otherwise.
  ogr2ogr(dir, "multipoints",
          {feature(R"("id": 1)", "MultiPoint", "[[0.1, 0.2], [1.5, -3.25], [1e-9, 7]]"),
           feature(R"("id": 2)", "Point", "[7, 8]")},
          "-nlt MULTIPOINT");
  ogr2ogr(dir, "lines",
          {feature(R"("id": 1)", "LineString", "[[0.1, 0.2], [1.5, -3.25], [2, 2]]"),
           feature(R"("id": 2)", "MultiLineString",
                   "[[[10, 10], [11, 11]], [[20, 20], [21, 22.5], [23, 24]]]")});
  // GDAL turns the rings to the shapefile's winding; our reader must take them as written.
  ogr2ogr(dir, "polygons",
          {feature(R"("id": 1)", "Polygon",
                   "[[[0, 0], [10, 0], [10, 10], [0, 10], [0, 0]],"
                   " [[2, 2], [2, 4], [4, 4], [4, 2], [2, 2]]]"),
           feature(R"("id": 2)", "MultiPolygon",
                   "[[[[20, 20], [21, 20], [21, 21], [20, 20]]],"
                   " [[[30.3, 30], [31, 30], [31, 31.7], [30.3, 30]]]]")});
  EXPECT_EQ(expectAgreesWithPeers(dir, "multipoints", true)->get_ShapeType(), kelMultiPoint);
  EXPECT_EQ(expectAgreesWithPeers(dir, "lines", true)->get_ShapeType(), kelPolyLine);
  EXPECT_EQ(expectAgreesWithPeers(dir, "polygons", true)->get_ShapeType(), kelPolygon);
}

TEST(ReadPeerFilesTest, ShapelibFilesOfAllFourTypesMatchShpdumpAndDbfdump) {
  TempDir dir;
  const std::string vertices[][3] = {
      {"0.1 -2.7", "-179.99999999999997 1e-7", "123456.78901234567 89.123456789012345"},
      {"1 2 3 4 5 6", "0.30000000000000004 0.1", "-1 -1 -1 -1 2.5 1e300"},
      {"0 0 1 1 + 2 2 3 3.5 4 4", "5 5 6 6", "0 0 + 1 1 2 2 + 3 3 4 4 5 5"},
      {"0 0 0 10 10 10 10 0 0 0 + 2 2 4 2 4 4 2 2", "20 20 21 20 21 21 20 20",
       "0 0 0 1 1 1 0 0 + 5 5 5 6 6 6 5 5 + 5.2 5.2 5.8 5.2 5.8 5.8 5.2 5.2"}};
  const char* types[] = {"point", "multipoint", "arc", "polygon"};
  // dbfadd fills an empty number with asterisks and an empty text with blanks; the last row
  // carries Windows-1252 bytes straight from the command line.
  const std::string rows[] = {"'Hello' 42 3.14159", "'' '' ''", "'\xE9 \xDF \x80' -7 -0.0005"};
  for (int t = 0; t < 4; ++t) {
    std::string stem = quote(dir.str() + "/" + types[t]);
    run("shpcreate " + stem + " " + types[t]);
    for (const std::string& v : vertices[t]) run("shpadd " + stem + " " + v);
    run("dbfcreate " + stem + " -s NAME 12 -n CNT 5 0 -n VAL 10 3");
    for (const std::string& row : rows) run("dbfadd " + stem + " " + row);
  }
  for (const char* type : types) expectAgreesWithPeers(dir, type, true);
}

TEST(ReadPeerFilesTest, PyshpFilesOfEveryFieldTypeMatchPyshpsReader) {
  TempDir dir;
  // The second row is all empty: pyshp writes asterisks for the numbers, 00000000 for the date
  // and a blank for the logical, which must reach us as those very characters.
  python(R"(import datetime, shapefile, sys
rows = [(' lead', 3.14159, 7, datetime.date(2024, 1, 31), True),
        ('', None, None, None, None),
        ('é ß €', -12.5, -3, datetime.date(1999, 12, 1), False)]
def add(w, kind, i):
    x, y, o = 0.1 * i - 179.99999999999997, 1 / 3 + i, 20 * i
    if kind == 'pt': w.point(x, y)
    elif kind == 'mpt': w.multipoint([[x, y], [x + 1e-9, y], [5, 6]])
    elif kind == 'line': w.line([[[x, y], [1.5, 2.5]], [[3, 4], [5, 6], [7, 8.25 + i]]])
    else: w.poly([[[o, o], [o, o + 10], [o + 10, o + 10], [o + 10, o], [o, o]],
                  [[o + 2, o + 2], [o + 4, o + 2], [o + 4, o + 4], [o + 2, o + 2]]])
for kind, t in (('pt', 1), ('mpt', 8), ('line', 3), ('poly', 5)):
    w = shapefile.Writer(sys.argv[1] + '/' + kind, shapeType=t, encoding='cp1252')
    for f in [('TEXT', 'C', 10, 0), ('AMOUNT', 'N', 12, 3), ('COUNT', 'N', 6, 0), ('DAY', 'D', 8, 0),
              ('FLAG', 'L', 1, 0)]: w.field(*f)
    for i, row in enumerate(rows):
        add(w, kind, i)
        w.record(*row)
    w.close()
)",
         dir.str());
  for (const char* stem : {"pt", "mpt", "line", "poly"}) expectAgreesWithPeers(dir, stem, false);
}

TEST(ReadPeerFilesTest, EmptyFilesFromEachToolReadAsTrueWithNoShapes) {
  TempDir dir;
  run("shpcreate " + quote(dir.str() + "/shapelib") + " polygon");
  run("dbfcreate " + quote(dir.str() + "/shapelib") + " -s NAME 10 -n CNT 4 0");
  ogr2ogr(dir, "gdal", {}, "-nlt LINESTRING");
  python(R"(import shapefile, sys
w = shapefile.Writer(sys.argv[1] + '/pyshp', shapeType=8)
w.field('NAME', 'C', size=5)
w.close()
)",
         dir.str());
  const std::pair<const char*, ShapeTypeConstants> files[] = {
      {"shapelib", kelPolygon}, {"gdal", kelPolyLine}, {"pyshp", kelMultiPoint}};
  for (const auto& [stem, type] : files) {
    Ref<Shapefile> file = expectAgreesWithPeers(dir, stem, true);
    EXPECT_EQ(file->get_ShapeObjectCount(), 0) << stem;
    EXPECT_EQ(file->get_ShapeType(), type) << stem;
  }
}

}  // namespace
