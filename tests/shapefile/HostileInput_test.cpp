#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "support/ShapefileFixtures.h"

using namespace kel;
using namespace kel::testing;

TEST(HostileInputTest, EveryTruncationFailsUnlessItCutsOnlyUnreadBytes) {
  for (std::int32_t type : {kelPoint, kelPolygon, kelMultiPoint}) {
    const ShapefileFiles whole = sampleFiles(type);
    // The index file is read for its header alone, and the table's end-of-file mark not at all.
    const std::pair<File ShapefileFiles::*, std::size_t> cases[] = {
        {&ShapefileFiles::shp, whole.shp.size()},
        {&ShapefileFiles::shx, 100},
        {&ShapefileFiles::dbf, whole.dbf.size() - 1}};
    for (auto [file, needed] : cases) {
      for (std::size_t length = 0; length < (whole.*file).size(); ++length) {
        ShapefileFiles cut = whole;
        (cut.*file).resize(length);
        Shapefile f;  // readFiles checks that every descriptor is closed again
        EXPECT_EQ(readFiles(f, cut), length >= needed) << type << ": cut to " << length;
      }
    }
  }
}

TEST(HostileInputTest, LyingPointAndPartCounts) {
  const Pts two = {{1, 2}, {3, 4}};
  // A negative count reads nothing; one past 16 bits, or past what the file holds, fails.
  const std::tuple<Bytes, std::size_t, std::size_t> good[] = {{shapeRaw(3, -5, 2, {}, two), 1, 2},
                                                              {shapeRaw(3, 1, -1, {0}, {}), 1, 0},
                                                              {shapeRaw(8, 0, -3, {}, {}), 1, 0}};
  for (const auto& [content, parts, coords] : good) {
    Shapefile f;
    EXPECT_TRUE(readFiles(f, shapefileOf(content.vec()[0], {content}, dbfFile(1))));
    EXPECT_EQ(partsOf(f.getShapeObject(1)).size(), parts);
    EXPECT_EQ(coordsOf(f.getShapeObject(1)).size(), coords);
  }
  const Bytes bad[] = {shapeRaw(3, INT32_MAX, 2, {0}, two), shapeRaw(3, 1, INT32_MAX, {0}, two),
                       shapeRaw(3, 1, 30000, {0}, two),     shapeRaw(3, 30000, 2, {0}, two),
                       shapeRaw(8, 0, 32000, {}, two),      shapeRaw(8, 0, INT32_MIN, {}, {})};
  for (const Bytes& content : bad) {
    Shapefile f;
    EXPECT_FALSE(readFiles(f, shapefileOf(content.vec()[0], {content}, dbfFile(0))));
    EXPECT_EQ(f.get_ShapeObjectCount(), 0);
  }
  // An index length of INT32_MAX announces half a billion records; the second is already missing.
  for (auto [words, shapes] : {std::pair{INT32_MAX, 1}, std::pair{INT32_MIN, 0}}) {
    ShapefileFiles files = shapefileOf(1, {shapeContent(1, two)}, dbfFile(1));
    putBigEndian(files.shx, 24, words);
    Shapefile f;
    EXPECT_FALSE(readFiles(f, files));
    EXPECT_EQ(f.get_ShapeObjectCount(), shapes);
  }
}

// A table that fails the read hands over no record: not one whose header lacks its terminator or
// promises more than the file holds, nor one whose row count is not the shape count.
TEST(HostileInputTest, TablesThatFailTheReadHandOverNoRecord) {
  File noTerminator = dbfFile(1, {{"A", 'C', 2}, {"B", 'C', 3}}, {" xxyyy"});
  File names(noTerminator.begin(), noTerminator.begin() + 32);
  noTerminator[32 + 2 * 32] = 'C';  // the records are then taken for descriptors
  names.resize(32 + 40000, 'A');    // a long run of names, repeated, of width 65
  // 200 columns of 255 bytes a record, for 30000 records: about 1.5 GB that the file lacks.
  std::vector<Column> cols(200, {"C", 'C', 255});
  for (int i = 0; i < 200; ++i) cols[i].name += std::to_string(i);
  const std::pair<std::int16_t, File> cases[] = {
      {1, noTerminator},
      {1, names},
      {30000, dbfFile(30000, cols, {" "})},
      {2, dbfFile(1, {{"A", 'C', 1}}, {" x"})},
      {2, dbfFile(2, {{"A", 'C', 4}}, {" abcd", " ab"})}};  // 9 bytes of the 10 the rows need
  for (const auto& [shapes, dbf] : cases) {
    Shapefile f;
    EXPECT_FALSE(readFiles(f, pointFiles(static_cast<std::size_t>(shapes), dbf)));
    for (std::int16_t i = 1; i <= shapes; ++i) {
      ASSERT_EQ(f.getShapeObject(i)->get_Record()->get_FieldCount(), 0) << i;
    }
  }
}

TEST(HostileInputTest, AHeaderOfMoreColumnsThanCanBeAddressedStopsAtTheLimit) {
  // 40000 distinct names: the read stops at the first column past 32767, and the names are
  // never compared pairwise, which would cost the header's square.
  std::vector<Column> cols(40000, {"", 'C', 1});
  for (std::size_t i = 0; i < cols.size(); ++i) cols[i].name = "F" + std::to_string(i);
  Shapefile f;
  EXPECT_FALSE(readFiles(f, shapefileOf(1, {}, dbfFile(0, cols))));
  EXPECT_EQ(f.get_TableDescription()->get_TableDescriptors()->count(), 32767);
}
