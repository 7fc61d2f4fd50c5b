#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>

#include "support/ShapefileFixtures.h"

using namespace kel;
using namespace kel::testing;

namespace {

ShapefileFiles points(std::int32_t n) {
  return pointFiles(static_cast<std::size_t>(n), dbfFile(n));
}

}  // namespace

// readFiles holds every read to its report: an error exactly when the read fails, and that error
// is the read's reason. These files reach each rule; the sentence is what the read tells.
TEST(ReadReport, AnErrorExactlyWhenTheReadFails) {
  const Pts line = {{0, 0}, {1, 1}};
  const Bytes pt = shapeContent(1, {{1, 2}}), null = Bytes().i32le(0);
  ShapefileFiles threeIndexed = points(2);
  threeIndexed.shx = fileHeader(50 + 3 * 4, 1).vec();
  ShapefileFiles shortClaim = points(2);
  putBigEndian(shortClaim.shp, 104, 2);  // record 1 claims 4 bytes of its 20
  std::vector<Column> cols = {{"A", 'C', 2}, {"F", 'F', 3}};
  File table = dbfFile(1, cols, {" ab1.5"});
  const struct {
    const char* what;
    ShapefileFiles files;
    bool read;
    const char* says;
  } cases[] = {
      {"a null shape", shapefileOf(1, {pt, null, pt}, dbfFile(3)), false, "null shape"},
      {"a Z type with rows", shapefileOf(13, {pt}, dbfFile(1)), false, "not PolyLineZ ones"},
      {"a Z type without rows", shapefileOf(13, {pt}, dbfFile(0)), true, "none of the 1 shapes"},
      {"no type of the format", shapefileOf(2, {}, dbfFile(0)), true, ""},
      {"a Point in a PolyLine file", shapefileOf(3, {pt}, dbfFile(1)), false,
       "a Point record where the object model reads a PolyLine"},
      {"a Polygon in a PolyLine file", shapefileOf(3, {shapeContent(5, line)}, dbfFile(1)), true,
       ""},
      {"32766 shapes", points(32766), true, ""},
      {"32767 shapes", points(32767), false, "at most 32,766 shapes"},
      {"32767 parts",
       shapefileOf(3, {shapeRaw(3, 32767, 1, Starts(32767, 0), {{0, 0}})}, dbfFile(1)), false,
       "more than the 32,766"},
      {"32766 parts",
       shapefileOf(3, {shapeRaw(3, 32766, 1, Starts(32766, 0), {{0, 0}})}, dbfFile(1)), true,
       "part 2 starts at point 0; the object model drops it"},
      {"no parts", shapefileOf(3, {shapeRaw(3, 0, 2, {}, line)}, dbfFile(1)), true,
       "gives it one, starting at point 0"},
      {"a first part past point 0", shapefileOf(3, {shapeContent(3, line, {1})}, dbfFile(1)), true,
       "adds a part at point 0 before it"},
      {"32766 points", shapefileOf(8, {shapeContent(8, Pts(32766, {1.5, -2.5}))}, dbfFile(1)), true,
       ""},
      {"32767 points", shapefileOf(8, {shapeContent(8, Pts(32767, {1.5, -2.5}))}, dbfFile(1)),
       false, "32767 points, more than the 32,766"},
      {"points beyond 16 bits", shapefileOf(8, {shapeRaw(8, 0, -40000, {}, {})}, dbfFile(1)), false,
       "cannot count in 16 bits"},
      {"bytes behind a record's fields", shapefileOf(1, {Bytes(pt).zeros(8), pt}, dbfFile(2)),
       false, "back to back, so it takes byte 128"},
      {"bytes behind the last record's fields",
       shapefileOf(1, {pt, Bytes(pt).zeros(8)}, dbfFile(2)), true, ""},
      {"a content length shorter than the fields", shortClaim, true, "not byte 112"},
      {"an index counting more records", threeIndexed, false, "the main file holds 2"},
      {"a header length beyond the 0x0D mark", patched(points(1), &ShapefileFiles::dbf, 8, 34),
       true, "the object model reads them from byte 33"},
      {"a record length other than the widths", patched(points(1), &ShapefileFiles::dbf, 10, 5),
       true, "reads rows of 1"},
      {"an F column", shapefileOf(1, {pt}, table), true, "type letter 'F'"},
      {"rows missing", shapefileOf(1, {pt, pt}, dbfFile(2, cols, {" ab1.5"})), false, "need 12"},
  };
  for (const auto& c : cases) {
    Shapefile f;
    format::CollectingReporter told;
    EXPECT_EQ(readFiles(f, c.files, &told), c.read) << c.what;
    std::string said = describeAll(told.findings);
    EXPECT_NE(said.find(c.says), std::string::npos) << c.what << ":\n" << said;
    if (!*c.says) {
      EXPECT_EQ(said, "") << c.what;
    }
  }
}

// A read that fails before the files' bytes are reached, or on a system error (FaultInjection),
// is explained by the error it caught; a success clears the reason.
TEST(ReadReport, AFailedReadNamesItsFileAndWhy) {
  TempDir dir;
  writeSet(dir, sampleFiles(kelPoint), "roads");
  Shapefile f;
  for (const char* ext : {".dbf", ".shx"}) {
    std::filesystem::rename(dir.native(std::string("roads") + ext), dir.native("away"));
    EXPECT_FALSE(f.readShapefile(dir.u16(), u"roads"));
    ASSERT_TRUE(f.lastFailure());
    EXPECT_EQ(f.lastFailure()->file, dir.native(std::string("roads") + ext));
    EXPECT_TRUE(f.lastFailure()->missingFile);
    std::filesystem::rename(dir.native("away"), dir.native(std::string("roads") + ext));
  }
  using namespace std::string_literals;
  EXPECT_FALSE(f.readShapefile(dir.u16(), u"roads\0x"s));
  ASSERT_TRUE(f.lastFailure());
  EXPECT_EQ(f.lastFailure()->file, toUtf8(dir.u16() + u"\\roads\0x.shp"s));
  EXPECT_NE(f.lastFailure()->sentence.find("(error 52)"), std::string::npos);
  EXPECT_TRUE(f.readShapefile(dir.u16(), u"roads"));
  EXPECT_FALSE(f.lastFailure());
  // The shapes held before a read count against the table's rows.
  EXPECT_FALSE(f.readShapefile(dir.u16(), u"roads"));
  ASSERT_TRUE(f.lastFailure());
  EXPECT_EQ(format::describe(*f.lastFailure()),
            dir.native("roads.dbf") +
                ": offset 4: the table counts 3 rows for 6 shapes: the object model refuses it");
}
