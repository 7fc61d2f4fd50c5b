#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <tuple>

#include "shapefile/WriteFixtures.h"
#include "support/TempDir.h"

namespace kel::writetest {
namespace {

using testing::TempDir;

// A Point file with one shape per row.
Ref<Shapefile> makeTableFile(const std::vector<Column>& columns, const std::vector<Fields>& rows) {
  std::vector<Ref<ShapeObject>> shapes;
  for (std::size_t k = 0; k < rows.size(); ++k) shapes.push_back(makeShape(kelPoint, {{1, 1}}));
  auto file = makeFile(kelPoint, shapes);
  addTable(*file, columns, rows);
  return file;
}

ByteVec writtenTable(Shapefile& file) {
  TempDir dir;
  EXPECT_TRUE(file.writeShapefile(std::u16string_view(dir.u16()), u"t"));
  return dir.read("t.dbf");
}

// The 32-byte file header; the date bytes are taken from the written file, and checked on their
// own in DateIsTodays.
Bytes dbfHeader(const ByteVec& written, std::int32_t records, std::int16_t headerLength,
                std::int16_t recordLength) {
  Bytes b;
  b.u8(3);
  for (std::size_t i = 1; i <= 3; ++i) b.u8(written.size() > 3 ? written[i] : 0);
  return std::move(b.i32le(records).i16le(headerLength).i16le(recordLength).zeros(20));
}

Bytes& descriptor(Bytes& b, std::string_view name, char type, std::uint8_t width,
                  std::uint8_t precision) {
  return b.text(name).zeros(11 - name.size()).u8(type).zeros(4).u8(width).u8(precision).zeros(14);
}

TEST(WriteTableDbf, NoColumnsMakesOneBlankColumn) {
  auto file = makeTableFile({}, {{{u"keep", u"x"}}, {{u"keep", u"x"}}, {{u"keep", u"x"}}});
  Ref<TableDescription> before = file->get_TableDescription();
  ByteVec dbf = writtenTable(*file);

  Bytes want = dbfHeader(dbf, 3, 65, 2);
  descriptor(want, " ", 'C', 1, 0).u8(0x0D).text("      ").u8(0x1A);
  EXPECT_EQ(dbf, want.vec());
  EXPECT_EQ(dbf.size(), 72u);

  Ref<TableDescription> after = file->get_TableDescription();
  EXPECT_NE(after, before);
  EXPECT_EQ(before->get_DescriptorCount(), 0);
  ASSERT_EQ(after->get_DescriptorCount(), 1);
  Ref<TableDescriptor> column = after->getTableDescriptorByIndex(1);
  EXPECT_EQ(
      std::tuple(column->get_name(), column->get_fieldType(), column->get_width(),
                 column->get_precision()),
      std::tuple(std::u16string(u" "), kelFieldTypeCharacter, std::uint8_t{1}, std::uint8_t{0}));
  for (std::int16_t i = 1; i <= 3; ++i) {
    Ref<Record> record = file->getShapeObject(i)->get_Record();
    ASSERT_EQ(record->get_FieldCount(), 1);
    EXPECT_EQ(record->getFieldByIndex(1)->value(), u"x");
  }
}

TEST(WriteTableDbf, HeaderAndDescriptorsWithAndWithoutShapes) {
  const std::vector<Column> columns = {{u"abc", kelFieldTypeCharacter, 10, 0},
                                       {u"ABCDEFGHIJKL", kelFieldTypeNumber, 8, 2},
                                       {u"ok", kelFieldTypeLogical, 1, 0}};
  const Fields row = {{u"abc", u"xyz"}, {u"ABCDEFGHIJKL", u"-1"}, {u"ok", u"T"}};
  for (std::int32_t shapes : {1, 0}) {
    SCOPED_TRACE(shapes);
    auto file = makeTableFile(columns, std::vector<Fields>(static_cast<std::size_t>(shapes), row));
    ByteVec dbf = writtenTable(*file);
    Bytes want = dbfHeader(dbf, shapes, 129, 20);
    descriptor(want, "abc", 'C', 10, 0);
    descriptor(want, "ABCDEFGHIJ", 'N', 8, 2);  // longer names lose the rest
    descriptor(want, "ok", 'L', 1, 0).u8(0x0D);
    if (shapes == 1) want.text("        xyz      -1T");
    EXPECT_EQ(dbf, want.u8(0x1A).vec());
  }
}

TEST(WriteTableDbf, RecordsAreCompletedAgainstTheColumns) {
  struct Case {
    const char* what;
    Fields before;
    std::string written;
    Fields after;
  };
  const std::vector<Case> cases = {
      {"missing", {}, "    ", {{u"name", u" "}}},
      {"exact name, empty value", {{u"name", u""}}, "    ", {{u"name", u""}}},
      {"other case with a value", {{u"NAME", u"abc"}}, "    ", {{u"NAME", u"abc"}}},
      {"other case behind a stray field",
       {{u"x", u"zz"}, {u"NAME", u"abc"}},
       "    ",
       {{u"x", u"zz"}, {u"NAME", u"abc"}}},
      {"other case, empty", {{u"NAME", u""}}, "    ", {{u"NAME", u""}, {u"name", u" "}}},
      {"present beside a stray field",
       {{u"other", u"zz"}, {u"name", u"ab"}},
       "  ab",
       {{u"other", u"zz"}, {u"name", u"ab"}}},
  };
  std::vector<Fields> rows;
  for (const Case& c : cases) rows.push_back(c.before);
  auto file = makeTableFile({{u"name", kelFieldTypeCharacter, 4, 0}}, rows);
  ByteVec dbf = writtenTable(*file);
  ASSERT_EQ(dbf.size(), 65u + 5 * cases.size() + 1);
  for (std::size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(cases[k].what);
    EXPECT_EQ(slice(dbf, 65 + 5 * k, 5), Bytes().text(" " + cases[k].written).vec());
    Ref<Record> record = file->getShapeObject(static_cast<std::int16_t>(k + 1))->get_Record();
    Fields after;
    for (std::int16_t i = 1; i <= record->get_FieldCount(); ++i) {
      after.emplace_back(record->getFieldByIndex(i)->get_name(),
                         record->getFieldByIndex(i)->get_value());
    }
    EXPECT_EQ(after, cases[k].after);
  }
}

TEST(WriteTableDbf, ValuesAreRightAlignedAndCutOnTheLeft) {
  struct Case {
    std::u16string value;
    FieldTypeConstants type;
    std::uint8_t width, precision;
    std::string bytes;
  };
  const std::vector<Case> cases = {
      {u"abc", kelFieldTypeCharacter, 10, 0, "       abc"},
      {u"abcdefghijk", kelFieldTypeCharacter, 5, 0, "ghijk"},
      {u"3.14159", kelFieldTypeNumber, 8, 2, " 3.14159"},  // no rounding to the precision
      {u"", kelFieldTypeCharacter, 3, 0, "   "},
      {u"\u00E9\u00DF\u20AC", kelFieldTypeCharacter, 3, 0, "\xE9\xDF\x80"},
      {u"20260305", kelFieldTypeDate, 8, 0, "20260305"},
      {u"F", kelFieldTypeLogical, 1, 0, "F"},
  };
  std::vector<Column> columns;
  Fields row;
  std::string record = " ";
  for (std::size_t k = 0; k < cases.size(); ++k) {
    std::u16string name = u"c" + std::u16string(1, static_cast<char16_t>(u'0' + k));
    columns.push_back({name, cases[k].type, cases[k].width, cases[k].precision});
    row.emplace_back(name, cases[k].value);
    record += cases[k].bytes;
  }
  auto file = makeTableFile(columns, {row});
  ByteVec dbf = writtenTable(*file);
  std::size_t headerLength = 32 * cases.size() + 33;
  EXPECT_EQ(slice(dbf, headerLength, record.size() + 1), Bytes().text(record).u8(0x1A).vec());
}

TEST(WriteTableDbf, WidthZeroTakesTheLongestValue) {
  auto file = makeTableFile({{u"v", kelFieldTypeCharacter, 0, 0}},
                            {{{u"v", u"abc"}}, {{u"v", u"abcdefg"}}, {{u"v", u"abcde"}}});
  ByteVec dbf = writtenTable(*file);
  EXPECT_EQ(file->get_TableDescription()->getTableDescriptorByIndex(1)->get_width(), 7);
  EXPECT_EQ(slice(dbf, 10, 2), (ByteVec{8, 0}));  // record length
  EXPECT_EQ(dbf.at(32 + 16), 7);
  EXPECT_EQ(slice(dbf, 65, 24), Bytes().text("     abc abcdefg   abcde").vec());
}

TEST(WriteTableDbf, DateIsTodays) {
  auto today = [] {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return ByteVec{static_cast<unsigned char>(local.tm_year % 100),
                   static_cast<unsigned char>(local.tm_mon + 1),
                   static_cast<unsigned char>(local.tm_mday)};
  };
  auto file = makeTableFile({}, {});
  ByteVec before = today();
  ByteVec date = slice(writtenTable(*file), 1, 3);
  ByteVec after = today();  // a write across midnight may carry either day
  EXPECT_TRUE(date == before || date == after)
      << int(date.at(0)) << "-" << int(date.at(1)) << "-" << int(date.at(2));
}

TEST(WriteTableDbf, UnwritableTablesFail) {
  struct Case {
    const char* what;
    Column column;
    std::u16string value;
  };
  const std::vector<Case> cases = {
      {"value outside the code page", {u"name", kelFieldTypeCharacter, 4, 0}, u"a\u4E2D"},
      {"name outside the code page", {u"\u4E2D", kelFieldTypeCharacter, 4, 0}, u"a"},
      {"width-0 column of a 300-character value",
       {u"v", kelFieldTypeCharacter, 0, 0},
       std::u16string(300, u'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    auto file = makeTableFile({c.column}, {{{c.column.name, c.value}}});
    EXPECT_FALSE(file->writeShapefile(std::u16string_view(dir.u16()), u"t"));
    // The geometry was written before the table was refused.
    EXPECT_EQ(dir.read("t.shp").size(), 128u);
  }
}

}  // namespace
}  // namespace kel::writetest
