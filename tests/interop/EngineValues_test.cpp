// Field bytes of every column type, many that no writer of the corpus lays down, read by the format
// engine and by GDAL: where they agree, where the engine parts from GDAL on purpose, and which
// values the engine reports as irregular.

#include <gtest/gtest.h>

#include "support/EngineReading.h"

using namespace kel::testing;

namespace {

struct ValueCase {
  std::size_t column;  // in kColumns
  std::string bytes;
  std::string engine;  // in gdalReadTyped's form: i12, r1.5, d2024-1-31, sTEXT, true, -
  std::string gdal;    // GDAL's value where it differs; empty when it is the engine's
  bool odd = false;    // the engine reports the bytes as no value of the column's type
};

const std::vector<Column> kColumns = {
    {"N9", 'N', 9},    {"N18", 'N', 18}, {"N19", 'N', 19}, {"R", 'N', 8, 3}, {"F", 'F', 5},
    {"D", 'D', 8},     {"L", 'L', 1},    {"C", 'C', 6},    {"I", 'I', 4},    {"N20", 'N', 20},
    {"F2", 'F', 8, 2}, {"M", 'M', 10},   {"B", 'B', 2}};

// Where the engine parts from GDAL, doc/interoperability.md says why: a number is read whole or not
// at all, a date of month 13 is none, and GDAL 3.6 hands an I column's bytes on as text.
const ValueCase kCases[] = {
    {0, "      -12", "i-12", ""},
    {0, "*********", "-", ""},
    {0, "     +007", "i7", ""},
    {0, "     12.5", "r12.5", "i12"},
    {0, "      12*", "-", "i12", true},
    {0, "     0x10", "-", "i0", true},
    {0, "     1.5x", "-", "i1", true},
    {0, "         ", "-", ""},
    {1, "123456789012345678", "i123456789012345678", ""},
    {2, "1234567890123456789", realValue(1234567890123456789.0), ""},
    {9, "12345678901234567890", realValue(12345678901234567890.0), ""},
    {3, "  -0.000", realValue(-0.0), ""},
    {3, "  +1.250", realValue(1.25), ""},
    {3, "     1,5", "-", realValue(1), true},
    {4, "   12", "i12", ""},
    {10, "     1e3", realValue(1000), ""},
    {5, "20240131", "d2024-1-31", ""},
    {5, "20240229", "d2024-2-29", ""},
    {5, "00000000", "-", ""},
    {5, "20241301", "-", "d2024-13-1", true},
    {5, "        ", "-", ""},
    {6, "T", "true", ""},
    {6, "y", "true", ""},
    {6, "n", "false", ""},
    {6, "F", "false", ""},
    {6, "?", "-", ""},
    {6, " ", "-", ""},
    {6, "X", "-", "sX", true},
    {7, "  ab  ", "sab", ""},
    {7, "\xC9t\xE9   ", "s\xC3\x89t\xC3\xA9", ""},
    {7, std::string("a\0b   ", 6), "sa", ""},
    {7, "\tx    ", "s\tx", ""},
    {7, "      ", "-", ""},
    {8, std::string("\x07\0\0\0", 4), "i7", "s\x07"},
    {8, "\xFE\xFF\xFF\xFF", "i-2", "s\xC3\xBE\xC3\xBF\xC3\xBF\xC3\xBF"},
    {11, "        17", "s17", ""},
    {12, "\x01 ", "raw\x01 ", "s\x01"},
};

}  // namespace

TEST(EngineValuesTest, ReadAsGdalReadsThemOrAsDescribed) {
  // One row a case, its value in its column and blanks elsewhere; every shape is null.
  std::size_t rowWidth = 0;
  for (const Column& c : kColumns) rowWidth += c.width;
  std::vector<std::string> rows;
  for (const ValueCase& c : kCases) {
    std::string row(rowWidth, ' ');
    std::size_t at = 0;
    for (std::size_t k = 0; k < c.column; ++k) at += kColumns[k].width;
    row.replace(at, c.bytes.size(), c.bytes);
    rows.push_back(" " + row);
  }
  const auto n = static_cast<std::int32_t>(rows.size());
  TempDir dir;
  writeSet(
      dir,
      shapefileOf(1, std::vector<Bytes>(rows.size(), Bytes().i32le(0)), dbfFile(n, kColumns, rows)),
      "values");
  kel::format::CollectingReporter reporter;
  auto layer = kel::format::Layer::open(dir.native("values.shp"), reporter);
  ASSERT_TRUE(layer && layer->table());
  TypedLayer gdal = gdalReadTyped(dir.native("values.shp"), layer->encoding());
  ASSERT_EQ(gdal.features.size(), rows.size());

  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ValueCase& c = kCases[i];
    SCOPED_TRACE(kColumns[c.column].name + " '" + c.bytes + "'");
    kel::format::RowView row = layer->table()->read(static_cast<std::int64_t>(i));
    const std::size_t findings = reporter.findings.size();
    std::string ours = typedValue(layer->table()->value(row, c.column));
    EXPECT_EQ(reporter.findings.size() > findings, c.odd) << describeAll(reporter.findings);
    std::string theirs = gdal.features[i].values.at(c.column);
    if (kColumns[c.column].type == 'L') theirs = logicalOf(theirs);
    EXPECT_EQ(ours, c.engine);
    EXPECT_EQ(theirs, c.gdal.empty() ? ours : c.gdal);
  }
}
