#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "shapefile/Shapefile.h"
#include "shapefile/ShapefileBytes.h"

namespace {

using namespace kel;
using namespace kel::testing;
using namespace std::string_literals;

// Reads as many Point records as `shapes` with the given table, into a Shapefile whose table
// description may already hold columns.
bool readWithTable(Shapefile& f, const File& dbf, int shapes, Ref<TableDescription> held = {}) {
  std::vector<Bytes> contents(static_cast<std::size_t>(shapes), pointContent(1, 2));
  if (held) f.put_TableDescription(held);
  return readFiles(f, shapefileOf(1, contents, dbf));
}

Ref<Record> recordOf(const Shapefile& f, int shape) {
  return f.getShapeObject(static_cast<std::int16_t>(shape))->get_Record();
}
std::u16string value(const Shapefile& f, int shape, std::int16_t field) {
  return recordOf(f, shape)->getFieldByIndex(field)->get_value();
}

TEST(ReadTableTest, RecordCountMustEqualShapeCount) {
  for (int count : {1, 3}) {
    Shapefile f;
    std::vector<std::string> rows(static_cast<std::size_t>(count), " x");
    EXPECT_FALSE(readWithTable(f, dbfFile(count, {{"A", 'C', 1}}, rows), 2)) << count;
    EXPECT_EQ(f.get_TableDescription()->get_DescriptorCount(), 0);
    EXPECT_EQ(recordOf(f, 1)->get_FieldCount(), 0);
  }
}

TEST(ReadTableTest, TableWithoutColumnsGivesEveryShapeAnEmptyRecord) {
  Shapefile f;
  ASSERT_TRUE(readWithTable(f, dbfFile(3, {}, {" ", "*", " "}), 3));
  EXPECT_EQ(f.get_TableDescription()->get_DescriptorCount(), 0);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(recordOf(f, i)->get_FieldCount(), 0);
  EXPECT_NE(recordOf(f, 1), recordOf(f, 2));
}

TEST(ReadTableTest, ColumnNamesTypesWidthsAndPrecisions) {
  // Raw 11-byte name areas (the last byte is the terminator position), type letters, and what
  // they read as.
  const std::tuple<std::string, char, std::u16string, FieldTypeConstants> cases[] = {
      {"ABCDEFGHIJX", 'C', u"ABCDEFGHIJ", kelFieldTypeCharacter},  // byte 10 is not the name's
      {"AB\0CD"s, 'D', u"ABCD", kelFieldTypeDate},                 // a zero does not end it
      {""s, 'L', u"\0"s, kelFieldTypeLogical},  // the first byte counts even when zero
      {"\0XY"s, 'N', u"\0XY"s, kelFieldTypeNumber},
      {"F", 'F', u"F", kelFieldTypeCharacter},
      {"M", 'M', u"M", kelFieldTypeCharacter},
      {"c", 'c', u"c", kelFieldTypeCharacter},
      {"n", 'n', u"n", kelFieldTypeCharacter}};
  std::vector<Column> cols;
  std::string row = " ";
  for (std::uint8_t i = 0; i < std::size(cases); ++i) {
    cols.push_back({std::get<0>(cases[i]), std::get<1>(cases[i]), std::uint8_t(i + 1), i});
    row += std::string(i + 1u, char('a' + i));
  }
  Shapefile f;
  ASSERT_TRUE(readWithTable(f, dbfFile(1, cols, {row}), 1));
  auto table = f.get_TableDescription();
  ASSERT_EQ(table->get_DescriptorCount(), 8);
  ASSERT_EQ(recordOf(f, 1)->get_FieldCount(), 8);
  for (std::int16_t i = 1; i <= 8; ++i) {
    const auto& [raw, letter, name, type] = cases[i - 1];
    auto column = table->getTableDescriptorByIndex(i);
    EXPECT_EQ(column->get_name(), name);
    EXPECT_EQ(column->get_fieldType(), type) << letter;
    EXPECT_EQ(column->get_width(), i);
    EXPECT_EQ(column->get_precision(), i - 1);
    EXPECT_EQ(recordOf(f, 1)->getFieldByIndex(i)->get_name(), name);
    EXPECT_EQ(value(f, 1, i), std::u16string(i, char16_t(u'a' + i - 1)));
  }
}

TEST(ReadTableTest, ValuesAreTheRawBytesInWindows1252) {
  const std::vector<Column> cols = {{"NAME", 'C', 10}, {"COUNT", 'N', 8}, {"TOWN", 'C', 6}};
  const std::vector<std::string> rows = {
      " abc       "s + "      42" + "Caf\xE9 \x80",                         // blanks stay
      "*x\0y"s + std::string(7, ' ') + "-1.50000" + std::string(6, '\t')};  // a deleted row
  for (std::uint8_t version : {3, 0x83}) {  // the version byte is not examined
    Shapefile f;
    ASSERT_TRUE(readWithTable(f, dbfFile(2, cols, rows, version), 2));
    EXPECT_EQ(value(f, 1, 1), u"abc       ");
    EXPECT_EQ(value(f, 1, 2), u"      42");
    EXPECT_EQ(value(f, 1, 3), u"Caf\u00E9 \u20AC");
    EXPECT_EQ(value(f, 2, 1), u"x\0y       "s);
    EXPECT_EQ(value(f, 2, 2), u"-1.50000");
    EXPECT_EQ(value(f, 2, 3), u"\t\t\t\t\t\t");
  }
}

TEST(ReadTableTest, RecordsFollowTheFileColumnsNotTheHeldDescription) {
  auto held = makeRef<TableDescription>();
  auto old = makeRef<TableDescriptor>();
  old->setTableDescriptor(u"OLD", kelFieldTypeCharacter, 3);
  held->addTableDescriptor(old);
  Shapefile f;
  File dbf = dbfFile(2, {{"NAME", 'C', 4}, {"CODE", 'C', 2}}, {" ab  XY", " cdefZW"});
  ASSERT_TRUE(readWithTable(f, dbf, 2, held));
  EXPECT_EQ(held->get_DescriptorCount(), 3);  // the file's columns go behind the held one
  EXPECT_EQ(recordOf(f, 1)->get_FieldCount(), 2);
  EXPECT_EQ(recordOf(f, 2)->getFieldByIndex(1)->get_name(), u"NAME");
  EXPECT_EQ(value(f, 1, 1), u"ab  ");
  EXPECT_EQ(value(f, 1, 2), u"XY");
  EXPECT_EQ(value(f, 2, 1), u"cdef");
  EXPECT_EQ(value(f, 2, 2), u"ZW");

  // A repeated name is one column and one field, but its bytes still take their room.
  Shapefile g;
  dbf = dbfFile(2, {{"A", 'C', 2}, {"A", 'N', 3}, {"B", 'C', 1}}, {" 11222Z", " 33444Y"});
  ASSERT_TRUE(readWithTable(g, dbf, 2));
  EXPECT_EQ(g.get_TableDescription()->get_DescriptorCount(), 2);
  for (auto [shape, a, b] : {std::tuple{1, u"11", u"Z"}, std::tuple{2, u"33", u"Y"}}) {
    ASSERT_EQ(recordOf(g, shape)->get_FieldCount(), 2);
    EXPECT_EQ(recordOf(g, shape)->getFieldByName(u"A")->get_value(), a);
    EXPECT_EQ(recordOf(g, shape)->getFieldByName(u"B")->get_value(), b);
  }
}

TEST(ReadTableTest, ZeroWidthOrTooFewBytesFailBeforeAnyRecordIsHandedOver) {
  for (int records : {0, 2}) {
    Shapefile f;
    std::vector<std::string> rows(static_cast<std::size_t>(records), " xx");
    EXPECT_FALSE(readWithTable(f, dbfFile(records, {{"A", 'C', 2}, {"B", 'C', 0}}, rows), records));
  }
  Shapefile f;
  // Two records of 5 bytes need 10; with the end-of-file mark there are 9.
  EXPECT_FALSE(readWithTable(f, dbfFile(2, {{"A", 'C', 4}}, {" abcd", " ab"}), 2));
  EXPECT_EQ(f.get_TableDescription()->get_DescriptorCount(), 1);  // columns read so far remain
  for (int i = 1; i <= 2; ++i) EXPECT_EQ(recordOf(f, i)->get_FieldCount(), 0);
}

}  // namespace
