#include <gtest/gtest.h>

#include <ctime>

#include "support/ShapefileFixtures.h"

using namespace kel;
using namespace kel::testing;

// Writes a Point file of one shape per row under the given columns, and returns its table.
static File writtenTable(const std::vector<Column>& columns, const std::vector<Fields>& rows,
                         Ref<Shapefile> file = {}) {
  std::vector<Ref<ShapeObject>> shapes;
  for (const Fields& row : rows) shapes.push_back(makeShape(kelPoint, {{1, 1}}, {}, row));
  if (!file) file = makeFile(kelPoint, shapes, columns);
  TempDir dir;
  EXPECT_TRUE(writeTo(*file, dir));
  return dir.read("out.dbf");
}

TEST(WriteTableDbf, ValuesAreRightAlignedAndCutOnTheLeftUnderNamesOfTenBytes) {
  // Columns, the value given, and the bytes written; a longer name loses the rest.
  const std::tuple<Column, std::u16string, std::string> cases[] = {
      {{"c0", 'C', 10}, u"abc", "       abc"},
      {{"c1", 'C', 5}, u"abcdefghijk", "ghijk"},
      {{"c2", 'N', 8, 2}, u"3.14159", " 3.14159"},  // no rounding to the precision
      {{"c4", 'C', 3}, u"\u00E9\u00DF\u20AC", "\xE9\xDF\x80"},
      {{"ABCDEFGHIJKL", 'L', 1}, u"F", "F"}};
  std::vector<Column> columns, header;
  Fields row;
  std::string record = " ";
  for (const auto& [column, value, bytes] : cases) {
    columns.push_back(column);
    header.push_back({column.name.substr(0, 10), column.type, column.width, column.precision});
    row.emplace_back(toUtf16(column.name), value);
    record += bytes;
  }
  File dbf = writtenTable(columns, {row});
  EXPECT_EQ(dbf, withDateOf(dbfFile(1, header, {record}), dbf));
  // No columns at all: one blank column of its own, over blank records rather than the shapes'.
  dbf = writtenTable({}, {{{u"k", u"x"}}, {}});
  EXPECT_EQ(dbf, withDateOf(dbfFile(2, {{" ", 'C', 1}}, {"  ", "  "}), dbf));
}

TEST(WriteTableDbf, RecordsAreCompletedAgainstTheColumns) {
  // Fields before, the bytes written, and the fields after.
  const std::tuple<Fields, std::string, Fields> cases[] = {
      {{}, "    ", {{u"name", u" "}}},
      {{{u"name", u""}}, "    ", {{u"name", u""}}},        // an exact name with an empty value
      {{{u"NAME", u"abc"}}, "    ", {{u"NAME", u"abc"}}},  // another case, with a value
      {{{u"x", u"zz"}, {u"NAME", u"abc"}}, "    ", {{u"x", u"zz"}, {u"NAME", u"abc"}}},
      {{{u"NAME", u""}}, "    ", {{u"NAME", u""}, {u"name", u" "}}},
      {{{u"other", u"zz"}, {u"name", u"ab"}}, "  ab", {{u"other", u"zz"}, {u"name", u"ab"}}}};
  std::vector<Ref<ShapeObject>> shapes;
  std::string records;
  for (const auto& [before, written, after] : cases) {
    shapes.push_back(makeShape(kelPoint, {{1, 1}}, {}, before));
    records += " " + written;
  }
  auto file = makeFile(kelPoint, shapes, {{"name", 'C', 4}});
  File dbf = writtenTable({}, {}, file);
  EXPECT_EQ(dbf, withDateOf(dbfFile(6, {{"name", 'C', 4}}, {records}), dbf));
  for (std::int16_t k = 1; k <= 6; ++k) {
    EXPECT_EQ(fieldsOf(file->getShapeObject(k)->get_Record()), std::get<2>(cases[k - 1])) << k;
  }
}

TEST(WriteTableDbf, WidthZeroTakesTheLongestValueAndTheDateIsTodays) {
  // A column of empty values keeps width 0, and the table reads back as it was written.
  std::vector<Fields> rows;
  for (std::u16string value : {u"abc", u"abcdefg", u"abcde"})
    rows.push_back({{u"v", value}, {u"e", u""}});
  const std::vector<std::string> written = {"     abc", " abcdefg", "   abcde"};
  auto today = [t = std::tm{}]() mutable {
    std::time_t now = std::time(nullptr);
    localtime_r(&now, &t);
    return File{static_cast<unsigned char>(t.tm_year % 100),
                static_cast<unsigned char>(t.tm_mon + 1), static_cast<unsigned char>(t.tm_mday)};
  };
  File before = today(), dbf = writtenTable({{"v", 'C', 0}, {"e", 'C', 0}}, rows), after = today();
  EXPECT_EQ(dbf, withDateOf(dbfFile(3, {{"v", 'C', 7}, {"e", 'C', 0}}, written), dbf));
  Shapefile back;
  ASSERT_TRUE(
      readFiles(back, shapefileOf(1, std::vector<Bytes>(3, shapeContent(1, {{1, 1}})), dbf)));
  for (std::int16_t k = 1; k <= 3; ++k) {
    EXPECT_EQ(fieldsOf(back.getShapeObject(k)->get_Record()),
              (Fields{{u"v", toUtf16(written[k - 1].substr(1))}, {u"e", u""}}));
  }
  File date(dbf.begin() + 1, dbf.begin() + 4);
  EXPECT_TRUE(date == before || date == after)  // a write across midnight may carry either day
      << int(date.at(0)) << "-" << int(date.at(1)) << "-" << int(date.at(2));
}

TEST(WriteTableDbf, UnwritableTablesFailAfterTheGeometry) {
  // Outside the code page, and a width-0 column whose longest value needs more than a byte.
  const std::tuple<std::string, std::uint8_t, std::u16string> cases[] = {
      {"name", 4, u"a\u4E2D"}, {"\xE4\xB8\xAD", 4, u"a"}, {"v", 0, std::u16string(256, u'x')}};
  for (const auto& [name, width, value] : cases) {
    TempDir dir;
    auto shape = makeShape(kelPoint, {{1, 1}}, {}, {{toUtf16(name), value}});
    EXPECT_FALSE(writeTo(*makeFile(kelPoint, {shape}, {{name, 'C', width}}), dir));
    EXPECT_EQ(dir.read("out.shp").size(), 128u);
  }
}
