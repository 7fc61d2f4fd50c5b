#include <gtest/gtest.h>

#include <bit>

#include "support/ShapefileFixtures.h"

using namespace kel;
using namespace kel::testing;

TEST(ReadPathTest, BasePathAndFileNameFollowThePathRules) {
  TempDir dir;
  ShapefileFiles files = sampleFiles(kelPolyLine);
  dir.write("ROADS.SHP", files.shp);
  dir.write("Roads.Shx", files.shx);
  dir.write("roads.DBF", files.dbf);
  std::filesystem::create_directory(dir.native("sub"));
  for (std::string stem : {"sub/roads", "noshx", "nodbf"}) writeSet(dir, files, stem);
  std::filesystem::remove(dir.native("noshx.shx"));
  std::filesystem::remove(dir.native("nodbf.dbf"));
  const std::u16string d = dir.u16();
  std::u16string windows = u"C:" + d;  // a drive prefix and "\" name the same place
  std::replace(windows.begin(), windows.end(), u'/', u'\\');
  const std::tuple<std::u16string, std::u16string, std::u16string, bool> cases[] = {
      {d, u"roads", d + u"\\|roads", true},
      {d + u"\\", u"roads.SHP", d + u"\\|roads", true},
      {d + u"/", u"ROADS.Shp", d + u"/|ROADS", true},
      {windows, u"roads.shp", windows + u"\\|roads", true},
      {d + u"/sub", u"Roads", d + u"/sub\\|Roads", true},
      {d, u"roads.shx", d + u"\\|roads.shx", false},    // would need roads.shx.shp
      {d, u"sub\\roads", d + u"\\|sub\\roads", false},  // a directory part never matches
      {d, u"sub/roads", d + u"\\|sub/roads", false},
      {d, u"noshx", d + u"\\|noshx", false},
      {d, u"nodbf", d + u"\\|nodbf", false},
      {u"", u"kelshape-none", u"\\|kelshape-none", false}};
  for (const auto& [base, name, after, ok] : cases) {
    std::u16string b = base, n = name;
    Shapefile f;
    EXPECT_EQ(f.readShapefile(b, n), ok) << toUtf8(after);
    EXPECT_EQ(b + u"|" + n, after);
    EXPECT_EQ(f.get_ShapeObjectCount(), ok ? 3 : 0);
    EXPECT_EQ(f.get_TableDescription()->get_DescriptorCount(), ok ? 4 : 0);
  }
  // Opened, a missing member would have been made.
  EXPECT_FALSE(std::filesystem::exists(dir.native("noshx.shx")) ||
               std::filesystem::exists(dir.native("nodbf.dbf")));
}

TEST(ReadHeadersTest, IndexLengthAndFileCodes) {
  // The index length announces (length - 50) / 4 records, halves to the even neighbour.
  for (auto [words, count] : {std::pair{62, 3}, {58, 2}, {60, 2}, {56, 2}, {46, 0}}) {
    auto files = pointFiles(3, dbfFile(count));
    files.shx = fileHeader(words, 1).vec();  // the entries themselves are never read
    putBigEndian(files.shp, 100, 99);        // nor are the record numbers checked
    Shapefile f;
    EXPECT_TRUE(readFiles(f, files)) << words;
    EXPECT_EQ(f.get_ShapeObjectCount(), count) << words;
  }
  ShapefileFiles files = sampleFiles(kelPolyLine);
  putBigEndian(files.shx, 0, 9993);
  Shapefile f;
  EXPECT_FALSE(readFiles(f, files));
  EXPECT_EQ(f.get_ShapeType(), kelUndefined);  // the main header was never read
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
      f, shapefileOf(8, {shapeContent(8, {{d[0], d[1]}, {d[2], d[3]}}, {}, d)}, dbfFile(1), d)));
  auto shape = f.getShapeObject(1);
  auto pts = coordsOf(shape);
  EXPECT_EQ(std::bit_cast<Bits>(boxOf(f.get_BoundingBox())), bits);
  EXPECT_EQ(std::bit_cast<Bits>(boxOf(shape->get_BoundingBox())), bits);
  EXPECT_EQ(std::bit_cast<Bits>(Box{pts[0].first, pts[0].second, pts[1].first, pts[1].second}),
            bits);
}
