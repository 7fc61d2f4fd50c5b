#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "shapefile/Shapefile.h"
#include "shapefile/ShapefileBytes.h"

namespace {

using namespace kel;
using namespace kel::testing;

void expectUntouched(const Shapefile& f) {
  EXPECT_EQ(f.get_ShapeObjectCount(), 0);
  EXPECT_EQ(f.get_ShapeType(), kelUndefined);
  EXPECT_EQ(f.get_TableDescription()->get_DescriptorCount(), 0);
  EXPECT_EQ(boxOf(f.get_BoundingBox()), Box{});
}

TEST(ReadPathTest, BasePathEndsInOneSeparator) {
  TempDir dir;
  writeSet(dir, smallPolyLine());
  std::u16string windows = u"C:" + dir.u16();  // a drive prefix and "\" name the same place
  for (char16_t& c : windows) c = c == u'/' ? u'\\' : c;
  const std::u16string d = dir.u16();
  const std::pair<std::u16string, std::u16string> cases[] = {
      {d, d + u"\\"}, {d + u"\\", d + u"\\"}, {d + u"/", d + u"/"}, {windows, windows + u"\\"}};
  for (const auto& [given, expected] : cases) {
    std::u16string base = given, name = u"roads";
    Shapefile f;
    EXPECT_TRUE(f.readShapefile(base, name));
    EXPECT_EQ(base, expected);
    EXPECT_EQ(f.get_ShapeObjectCount(), 2);
  }
  std::u16string base, name = u"kelshape-no-such-roads";
  Shapefile f;
  EXPECT_FALSE(f.readShapefile(base, name));
  EXPECT_EQ(base, u"\\");
}

TEST(ReadPathTest, OnlyShpIsStrippedAndLetterCaseOfFilesIsIgnored) {
  TempDir dir;
  ShapefileFiles files = smallPolyLine();
  dir.write("ROADS.SHP", files.shp);
  dir.write("Roads.Shx", files.shx);
  dir.write("roads.DBF", files.dbf);
  const std::tuple<std::u16string, std::u16string, bool> cases[] = {
      {u"roads.SHP", u"roads", true},
      {u"roads.shp", u"roads", true},
      {u"ROADS.Shp", u"ROADS", true},
      {u"roads", u"roads", true},
      {u"roads.shx", u"roads.shx", false}};  // would need roads.shx.shp
  for (const auto& [given, expected, ok] : cases) {
    std::u16string base = dir.u16(), name = given;
    Shapefile f;
    EXPECT_EQ(f.readShapefile(base, name), ok);
    EXPECT_EQ(name, expected);
    EXPECT_EQ(f.get_ShapeObjectCount(), ok ? 2 : 0);
  }
}

TEST(ReadPathTest, MissingMemberOrDirectoryInNameFailsWithoutOpeningAnything) {
  for (std::string missing : {".shp", ".shx", ".dbf"}) {
    TempDir dir;
    writeSet(dir, smallPolyLine());
    std::filesystem::remove(dir / ("roads" + missing));
    Shapefile f;
    EXPECT_FALSE(readRoads(f, dir));
    expectUntouched(f);
    EXPECT_FALSE(std::filesystem::exists(dir / ("roads" + missing))) << "opened, so created";
  }
  TempDir dir;
  std::filesystem::create_directory(dir / "sub");
  writeSet(dir, smallPolyLine(), "sub/roads");
  for (std::u16string name : {u"sub\\roads", u"sub/roads"}) {
    Shapefile f;
    EXPECT_FALSE(f.readShapefile(dir.u16(), name));
    expectUntouched(f);
  }
  Shapefile f;
  EXPECT_TRUE(f.readShapefile(dir.u16() + u"/sub", u"roads"));
}

TEST(ReadPathTest, SecondReadAppendsAndThenFailsAtTheTable) {
  TempDir dir;
  writeSet(dir, smallPolyLine());
  Shapefile f;
  ASSERT_TRUE(readRoads(f, dir));
  EXPECT_FALSE(readRoads(f, dir));
  ASSERT_EQ(f.get_ShapeObjectCount(), 4);
  for (std::int16_t i = 1; i <= 2; ++i) {
    auto first = f.getShapeObject(i), again = f.getShapeObject(static_cast<std::int16_t>(i + 2));
    EXPECT_NE(first, again);
    EXPECT_EQ(coordsOf(again), coordsOf(first));
  }
}

TEST(ReadHeadersTest, IndexLengthAnnouncesTheRecordCount) {
  // (length - 50) / 4, halves to the even neighbour; the main file holds three records.
  const std::pair<std::int32_t, int> cases[] = {{62, 3}, {54, 1}, {56, 2}, {58, 2},
                                                {60, 2}, {50, 0}, {46, 0}};
  for (auto [words, count] : cases) {
    auto files = shapefileOf(1, {pointContent(1, 1), pointContent(2, 2), pointContent(3, 3)},
                             dbfRows(count));
    files.shx = fileHeader(words, 1);  // the entries themselves are never read
    Shapefile f;
    EXPECT_TRUE(readFiles(f, files)) << words;
    EXPECT_EQ(f.get_ShapeObjectCount(), count) << words;
  }
}

TEST(ReadHeadersTest, WrongFileCodes) {
  ShapefileFiles files = smallPolyLine();
  putBigEndian(files.shx, 0, 9993);
  Shapefile f;
  EXPECT_FALSE(readFiles(f, files));
  expectUntouched(f);  // the main header was never read

  files = smallPolyLine();
  putBigEndian(files.shp, 0, 0x0A270000);  // 9994 in the wrong byte order
  Shapefile g;
  auto box = g.get_BoundingBox();
  EXPECT_FALSE(readFiles(g, files));
  EXPECT_EQ(g.get_BoundingBox(), box);  // changed in place, before the code was checked
  EXPECT_EQ(boxOf(box), (Box{1, 2, 11, 12}));
  EXPECT_EQ(g.get_ShapeType(), kelPolyLine);
  EXPECT_EQ(g.get_ShapeObjectCount(), 0);
}

TEST(ReadHeadersTest, UnsupportedTypeAndVersionAreAcceptedWithoutRecords) {
  Shapefile f;
  EXPECT_TRUE(readFiles(
      f, {fileHeader(60, 11, {-1, -2, 3, 4}, 9994, 0).zeros(20), fileHeader(62, 11), dbfRows(0)}));
  EXPECT_EQ(f.get_ShapeType(), 11);
  EXPECT_EQ(f.get_ShapeObjectCount(), 0);
  EXPECT_EQ(boxOf(f.get_BoundingBox()), (Box{-1, -2, 3, 4}));
}

TEST(ReadRecordsTest, EachRecordKeepsItsOwnTypeAndTheLastOneWins) {
  struct Case {
    std::int32_t header;
    std::vector<std::int32_t> types;
    bool ok;
    std::int16_t count;
    std::int32_t finalType;
  };
  const Case cases[] = {{5, {5, 3, 5}, true, 3, 5},
                        {3, {3, 5, 3}, true, 3, 3},
                        {1, {1, 1, 0}, false, 2, 0},   // a null shape ends the reading
                        {1, {1, 8, 1}, false, 1, 8}};  // so does a type the reader cannot take
  for (const Case& c : cases) {
    std::vector<Bytes> contents;
    for (std::int32_t t : c.types) {
      contents.push_back(t == 3 || t == 5 ? polyContent(t, {0}, {{1, 2}, {3, 4}}, {1, 2, 3, 4})
                         : t == 8         ? multiPointContent({{1, 2}})
                                          : pointContent(1, 2, t));
    }
    Shapefile f;
    EXPECT_EQ(readFiles(f, shapefileOf(c.header, contents, dbfRows(c.count))), c.ok);
    ASSERT_EQ(f.get_ShapeObjectCount(), c.count);
    for (std::int16_t i = 1; i <= c.count; ++i) {
      EXPECT_EQ(f.getShapeObject(i)->get_ShapeType(), c.types[i - 1]);
    }
    EXPECT_EQ(f.get_ShapeType(), c.finalType);
    EXPECT_EQ(boxOf(f.getShapeObject(c.count)->get_BoundingBox()),
              (c.header == 1 ? Box{} : Box{1, 2, 3, 4}));
  }
}

TEST(ReadRecordsTest, PartStartsAlwaysBeginWithZero) {
  const std::pair<std::vector<std::int32_t>, std::vector<std::int32_t>> cases[] = {
      {{0, 5, 10}, {0, 5, 10}}, {{7}, {0, 7}}, {{0}, {0}}};
  for (const auto& [starts, expected] : cases) {
    std::vector<Pt> pts(12, {1, 1});
    Shapefile f;
    ASSERT_TRUE(readFiles(f, shapefileOf(3, {polyContent(3, starts, pts)}, dbfRows(1))));
    EXPECT_EQ(partsOf(f.getShapeObject(1)), expected);
    EXPECT_EQ(coordsOf(f.getShapeObject(1)), pts);
  }
}

TEST(ReadRecordsTest, PointAndMultiPointShapes) {
  ShapefileFiles points = shapefileOf(1, {pointContent(7.5, -3.25)}, dbfRows(1), {9, 9, 9, 9});
  putBigEndian(points.shp, 100, 99);  // record numbers are not checked
  Shapefile p;
  ASSERT_TRUE(readFiles(p, points));
  EXPECT_EQ(coordsOf(p.getShapeObject(1)), (std::vector<Pt>{{7.5, -3.25}}));
  EXPECT_EQ(partsOf(p.getShapeObject(1)), std::vector<std::int32_t>{0});
  EXPECT_EQ(boxOf(p.getShapeObject(1)->get_BoundingBox()), Box{});  // a Point has no box

  const std::vector<Pt> two = {{5, 6}, {7, 8}};
  Shapefile m;
  ASSERT_TRUE(readFiles(
      m,
      shapefileOf(8, {multiPointContent({}, {-1, -2, 3, 4}), multiPointContent(two, {5, 6, 7, 8})},
                  dbfRows(2))));
  EXPECT_EQ(coordsOf(m.getShapeObject(1)), std::vector<Pt>{});
  EXPECT_EQ(boxOf(m.getShapeObject(1)->get_BoundingBox()), (Box{-1, -2, 3, 4}));
  EXPECT_EQ(coordsOf(m.getShapeObject(2)), two);
}

TEST(ReadRecordsTest, DoublesSurviveBitForBit) {
  using Bits = std::array<std::uint64_t, 4>;
  const Bits bits = {0x8000000000000000,   // negative zero
                     0x7FF800000000BEEF,   // quiet NaN with a payload
                     0x0000000000000001,   // smallest denormal
                     0x800FFFFFFFFFFFFF};  // largest negative denormal
  const Box d = std::bit_cast<Box>(bits);
  Shapefile f;
  ASSERT_TRUE(readFiles(
      f, shapefileOf(8, {multiPointContent({{d[0], d[1]}, {d[2], d[3]}}, d)}, dbfRows(1), d)));
  auto shape = f.getShapeObject(1);
  auto pts = coordsOf(shape);
  EXPECT_EQ(std::bit_cast<Bits>(boxOf(f.get_BoundingBox())), bits);
  EXPECT_EQ(std::bit_cast<Bits>(boxOf(shape->get_BoundingBox())), bits);
  EXPECT_EQ(std::bit_cast<Bits>(Box{pts[0].first, pts[0].second, pts[1].first, pts[1].second}),
            bits);
}

TEST(ReadRecordsTest, PointCountsStopAtThe16BitLimit) {
  for (auto [n, ok] : {std::pair{32766, true}, std::pair{32767, false}}) {
    std::vector<Pt> pts(static_cast<std::size_t>(n), {1.5, -2.5});
    pts.back() = {4, 8};
    Shapefile f;
    EXPECT_EQ(readFiles(f, shapefileOf(8, {multiPointContent(pts)}, dbfRows(ok ? 1 : 0))), ok);
    ASSERT_EQ(f.get_ShapeObjectCount(), ok ? 1 : 0) << n;
    if (!ok) continue;
    EXPECT_EQ(coordsOf(f.getShapeObject(1)), pts);
  }
}

}  // namespace
