// Shapefiles made by GDAL, shapelib and pyshp must read as shpdump and the raw table bytes say
// and be written back as they were; ours must read in ogrinfo, shpdump and dbfdump as we wrote.

#include <gtest/gtest.h>

#include <regex>

#include "support/PeerTools.h"

using namespace kel;
using namespace kel::testing;

// Coordinates are compared exactly; the boxes and the columns, read as they lie, are checked by
// writing the files back.
static Ref<Shapefile> expectReadExactlyAndWrittenBack(const TempDir& dir, const std::string& stem) {
  SCOPED_TRACE(stem);
  auto file = makeRef<Shapefile>();
  EXPECT_TRUE(file->readShapefile(dir.u16(), toUtf16(stem)));
  std::vector<PeerShape> peer = shpdump(dir.native(stem + ".shp"));
  EXPECT_EQ(file->get_ShapeType(), peer.at(0).type);
  EXPECT_EQ(file->get_ShapeObjectCount() + 1, static_cast<int>(peer.size()));
  for (std::int16_t i = 1; i <= file->get_ShapeObjectCount() && i < int(peer.size()); ++i) {
    Ref<ShapeObject> shape = file->getShapeObject(i);
    EXPECT_EQ(shape->get_ShapeType(), peer[i].type);
    // Every shape of ours starts a part at 0, points and multipoints included.
    EXPECT_EQ(partsOf(shape), peer[i].parts.empty() ? Starts{0} : peer[i].parts);
    EXPECT_EQ(coordsOf(shape), peer[i].points);
  }
  auto rows = rawTable(dir.read(stem + ".dbf"));
  for (std::int16_t r = 1; r <= file->get_ShapeObjectCount() && r <= int(rows.size()); ++r) {
    std::vector<std::string> values;
    for (const auto& [name, value] : fieldsOf(file->getShapeObject(r)->get_Record())) {
      values.emplace_back();
      for (char16_t c : value) values.back() += static_cast<char>(ansiCodeOf(c));
    }
    EXPECT_EQ(values, rows[r - 1]);
  }
  // Written back, the main and index files are unchanged; the table differs only in what we
  // stamp: today's date, zero reserved bytes (no language driver mark) and the end mark.
  std::filesystem::create_directory(dir.native("back"));
  EXPECT_TRUE(file->writeShapefile(dir.u16() + u"/back", toUtf16(stem)));
  EXPECT_EQ(dir.read("back/" + stem + ".shp"), dir.read(stem + ".shp"));
  EXPECT_EQ(dir.read("back/" + stem + ".shx"), dir.read(stem + ".shx"));
  File ours = dir.read("back/" + stem + ".dbf"), theirs = dir.read(stem + ".dbf");
  std::fill(theirs.begin() + 12, theirs.begin() + 32, 0);
  if (theirs.back() != 0x1A) theirs.push_back(0x1A);
  EXPECT_EQ(ours, withDateOf(theirs, ours));
  return file;
}

TEST(PeerFilesTest, GdalPolygonsWithWindows1252Text) {
  TempDir dir;
  // The CSV is UTF-8; GDAL recodes the names into Windows-1252 for the table. The rings come out
  // in the shapefile's winding, and we must take them as written.
  dir.write(
      "gdal.csv",
      "WKT,name,count,amount\n"
      "\"POLYGON ((0 0,10 0,10 10,0 10,0 0),(2 2,2 4,4 4,4 2,2 2))\",Caf\u00E9 \u00E9,42,3.25\n"
      "\"MULTIPOLYGON (((20 20,21 20,21 21,20 20)),((30.3 30,31 30,31 31.7,30.3 30)))\","
      "\u20AC \u00DF \u0153 \u017D,-7,\n"
      "\"POLYGON ((0.1 0.2,1.5 -3.25,-179.99999999999997 1e-7,0.1 0.2))\",,,-0.5\n");
  run("cd " + quote(dir.str()) + " && ogr2ogr -f 'ESRI Shapefile' -lco ENCODING=CP1252 " +
      "-oo AUTODETECT_TYPE=YES -oo KEEP_GEOM_COLUMNS=NO -nlt MULTIPOLYGON gdal.shp gdal.csv");
  Ref<Shapefile> file = expectReadExactlyAndWrittenBack(dir, "gdal");
  EXPECT_EQ(file->getShapeObject(2)->get_Record()->getFieldByIndex(1)->value().substr(0, 7),
            u"\u20AC \u00DF \u0153 \u017D");
}

TEST(PeerFilesTest, ShapelibFilesOfEveryType) {
  TempDir dir;
  const std::string vertices[][2] = {
      {"-179.99999999999997 1e-7", "123456.78901234567 89.123456789012345"},
      {"0.30000000000000004 0.1", "-1 -1 -1 -1 2.5 1e300"},
      {"5 5 6 6", "0 0 + 1 1 2 2 + 3 3 4 4 5 5"},
      {"0 0 0 10 10 10 10 0 0 0 + 2 2 4 2 4 4 2 2", "0 0 0 1 1 1 0 0 + 5 5 5 6 6 6 5 5"}};
  // dbfadd fills an empty number with asterisks and an empty text with blanks; the other row
  // carries Windows-1252 bytes straight from the command line.
  const std::string rows[] = {"'' '' ''", "'\xE9 \xDF \x80' -7 -0.0005"};
  const std::string types[] = {"point", "multipoint", "arc", "polygon", "empty"};
  for (int t = 0; t < 5; ++t) {
    std::string stem = quote(dir.native(types[t]));
    run("shpcreate " + stem + " " + (t < 4 ? types[t] : "polygon") + " && dbfcreate " + stem +
        " -s NAME 12 -n CNT 5 0 -n VAL 10 3");
    for (int k = 0; k < 2 && t < 4; ++k) {
      run("shpadd " + stem + " " + vertices[t][k] + " && dbfadd " + stem + " " + rows[k]);
    }
    expectReadExactlyAndWrittenBack(dir, types[t]);
  }
}

TEST(PeerFilesTest, PyshpFilesOfEveryFieldType) {
  TempDir dir;
  // The second row is all empty: pyshp writes asterisks for the numbers, zeros for the date and
  // a blank for the logical, which must reach us as those very characters.
  run("cd " + quote(dir.str()) + " && /usr/bin/python3 - <<'END'\n" + R"(import datetime, shapefile
rows = [(' lead', 3.14159, 7, datetime.date(2024, 1, 31), True), ('', None, None, None, None),
        ('é ß €', -12.5, -3, datetime.date(1999, 12, 1), False)]
for kind, t in (('mpt', 8), ('empty', 5)):
    w = shapefile.Writer(kind, shapeType=t, encoding='cp1252')
    for f in [('TEXT', 'C', 10), ('AMOUNT', 'N', 12, 3), ('COUNT', 'N', 6), ('DAY', 'D', 8),
              ('FLAG', 'L', 1)]: w.field(*f)
    for i, row in enumerate(rows if kind != 'empty' else []):
        x, y = 0.1 * i - 179.99999999999997, 1 / 3 + i
        w.multipoint([[x, y], [x + 1e-9, y], [5, 6]])
        w.record(*row)
    w.close()
)" + "END\n");
  for (const char* stem : {"mpt", "empty"}) expectReadExactlyAndWrittenBack(dir, stem);
}

TEST(PeerFilesTest, GdalAndShapelibReadWhatWeWrite) {
  for (std::int32_t type : {kelPoint, kelPolyLine, kelPolygon, kelMultiPoint}) {
    TempDir dir;
    ASSERT_TRUE(writeTo(*sampleModel(type), dir, u"peer"));
    // GDAL reads every feature and its date without a warning; shpdump sees every vertex and
    // dbfdump every value.
    std::string ogr = run("ogrinfo -al -q " + quote(dir.native("peer.shp")) + " 2>&1"), born;
    EXPECT_FALSE(std::regex_search(ogr, std::regex("ERROR|Warning"))) << ogr;
    std::regex date("BORN \\(Date\\) = (.*)");
    for (std::sregex_iterator m(ogr.begin(), ogr.end(), date), end; m != end; ++m) {
      born += (*m)[1].str() + " ";
    }
    EXPECT_EQ(born, "2026/03/05 1999/12/31 2000/02/29 ");
    expectReadExactlyAndWrittenBack(dir, "peer");
    auto values = rawTable(dir.read("peer.dbf"));
    for (auto& row : values) std::transform(row.begin(), row.end(), row.begin(), trim);
    EXPECT_EQ(dbfdump(dir.native("peer.dbf")), values);
  }
}
