#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "shapefile/Shapefile.h"
#include "shapefile/ShapefileBytes.h"

namespace {

using namespace kel;
using namespace kel::testing;

TEST(HostileInputTest, EveryTruncationFailsUnlessItCutsOnlyUnreadBytes) {
  const ShapefileFiles whole = smallPolyLine();
  Shapefile baseline;
  ASSERT_TRUE(readFiles(baseline, whole));
  // The index file is read for its header alone, and the table's end-of-file mark not at all.
  struct Case {
    File ShapefileFiles::*file;
    std::size_t needed;
    const char* what;
  };
  const Case cases[] = {{&ShapefileFiles::shp, whole.shp.size(), "shp"},
                        {&ShapefileFiles::shx, 100, "shx"},
                        {&ShapefileFiles::dbf, whole.dbf.size() - 1, "dbf"}};
  for (const Case& c : cases) {
    const File& full = whole.*c.file;
    for (std::size_t length = 0; length < full.size(); ++length) {
      SCOPED_TRACE(std::string(c.what) + " cut to " + std::to_string(length));
      ShapefileFiles cut = whole;
      (cut.*c.file).resize(length);
      Shapefile f;
      EXPECT_EQ(readFiles(f, cut), length >= c.needed);
    }
  }
}

TEST(HostileInputTest, LyingPointAndPartCounts) {
  struct Case {
    Bytes content;
    bool ok;
    std::size_t parts, coords;
  };
  const std::vector<Pt> two = {{1, 2}, {3, 4}};
  const Case cases[] = {
      {polyRaw(3, -5, 2, {}, two), true, 1, 2},  // a negative count reads nothing
      {polyRaw(3, 1, -1, {0}, {}), true, 1, 0},
      {multiPointRaw(-3, {}), true, 1, 0},
      {polyRaw(3, INT32_MAX, 2, {0}, two), false, 0, 0},  // no 16-bit count
      {polyRaw(3, INT32_MIN, 2, {0}, two), false, 0, 0},
      {polyRaw(3, 1, INT32_MAX, {0}, two), false, 0, 0},
      {polyRaw(3, 1, 30000, {0}, two), false, 0, 0},  // fits 16 bits, not the file
      {polyRaw(3, 30000, 2, {0}, two), false, 0, 0},
      {multiPointRaw(32000, two), false, 0, 0},
      {multiPointRaw(INT32_MIN, two), false, 0, 0}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    const Case& c = cases[i];
    std::int32_t type = c.content.vec()[0];
    Shapefile f;
    EXPECT_EQ(readFiles(f, shapefileOf(type, {c.content}, dbfRows(c.ok ? 1 : 0))), c.ok);
    ASSERT_EQ(f.get_ShapeObjectCount(), c.ok ? 1 : 0);
    if (!c.ok) continue;
    EXPECT_EQ(partsOf(f.getShapeObject(1)).size(), c.parts);
    EXPECT_EQ(coordsOf(f.getShapeObject(1)).size(), c.coords);
  }
}

TEST(HostileInputTest, TableHeaderWithoutTerminator) {
  const File valid = dbfFile(1, {{"A", 'C', 2}, {"B", 'C', 3}}, {" xxyyy"});
  const std::size_t terminator = 32 + 2 * 32;
  ASSERT_EQ(valid[terminator], 0x0D);
  std::vector<File> tables;
  tables.emplace_back(valid.begin(), valid.begin() + terminator);       // ends after a descriptor
  tables.emplace_back(valid.begin(), valid.begin() + terminator - 10);  // ends inside one
  tables.push_back(valid);
  tables.back()[terminator] = 'C';  // the records are then taken for descriptors
  tables.push_back(valid);
  tables.back().resize(32);
  tables.back().resize(32 + 40000, 'A');  // a long run of names, repeated, of width 65
  for (std::size_t i = 0; i < tables.size(); ++i) {
    SCOPED_TRACE("table " + std::to_string(i));
    Shapefile f;
    EXPECT_FALSE(readFiles(f, shapefileOf(1, {pointContent(1, 1)}, tables[i])));
    EXPECT_EQ(f.getShapeObject(1)->get_Record()->get_FieldCount(), 0);
  }
}

TEST(HostileInputTest, WideColumnsPromisingMoreThanTheFileHolds) {
  // 200 columns of 255 bytes a record, for 30000 records: about 1.5 GB that the file lacks.
  std::vector<Column> cols;
  for (int i = 0; i < 200; ++i) cols.push_back({"C" + std::to_string(i), 'C', 255});
  std::vector<Bytes> contents(30000, pointContent(0, 0));
  Shapefile f;
  EXPECT_FALSE(readFiles(f, shapefileOf(1, contents, dbfFile(30000, cols, {" "}))));
  EXPECT_EQ(f.get_ShapeObjectCount(), 30000);
  EXPECT_EQ(f.getShapeObject(30000)->get_Record()->get_FieldCount(), 0);
}

TEST(HostileInputTest, ExtremeIndexLengthsWithATinyMainFile) {
  // INT32_MAX announces half a billion records; the second one is already missing.
  for (auto [words, shapes] : {std::pair{INT32_MAX, 1}, std::pair{INT32_MIN, 0}}) {
    SCOPED_TRACE(words);
    ShapefileFiles files = shapefileOf(1, {pointContent(1, 1)}, dbfRows(1));
    putBigEndian(files.shx, 24, words);
    Shapefile f;
    EXPECT_FALSE(readFiles(f, files));
    EXPECT_EQ(f.get_ShapeObjectCount(), shapes);
  }
}

}  // namespace
