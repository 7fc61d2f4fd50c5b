#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/ErrorOf.h"
#include "support/ShapefileFixtures.h"

using namespace kel;
using namespace kel::testing;
using namespace std::string_literals;

// Reads a Point file of `shapes` records with the given table.
static bool readWithTable(Shapefile& f, const File& dbf, std::size_t shapes) {
  return readFiles(f, pointFiles(shapes, dbf));
}
static Fields fieldsAt(const Shapefile& f, std::int16_t shape) {
  return fieldsOf(f.getShapeObject(shape)->get_Record());
}
template <class T>
static std::u16string textOf(T value) {
  return toUtf16(std::to_string(value));
}
static Ref<RecordField> fieldOf(const char16_t* name) {
  auto field = makeRef<RecordField>();
  field->setRecordField(name, u"new");
  return field;
}

TEST(ReadTableTest, ColumnNamesFollowTheDbaseRuleAndValuesAreRawWindows1252) {
  // Raw 11-byte name areas (the last byte is the terminator position), type letters, and what
  // they read as.
  const std::tuple<std::string, char, std::u16string, FieldTypeConstants> cases[] = {
      {"ABCDEFGHIJX", 'C', u"ABCDEFGHIJ", kelFieldTypeCharacter},  // byte 10 is not the name's
      {"AB\0CD"s, 'D', u"ABCD", kelFieldTypeDate},                 // a zero does not end it
      {""s, 'L', u"\0"s, kelFieldTypeLogical},  // the first byte counts even when zero
      {"\0XY"s, 'N', u"\0XY"s, kelFieldTypeNumber},
      {"F", 'F', u"F", kelFieldTypeCharacter},
      {"n", 'n', u"n", kelFieldTypeCharacter}};
  const std::string values[] = {" a       ", "x\0y"s, "\xE9", "  -1.5", " ", "\x80\x81\t"};
  std::vector<Column> cols;
  std::string row = "*";  // a deleted row still belongs to its shape
  Fields expected;
  for (std::uint8_t i = 0; i < std::size(cases); ++i) {
    const auto& [raw, letter, name, type] = cases[i];
    cols.push_back({raw, letter, std::uint8_t(values[i].size()), i});
    row += values[i];
    expected.emplace_back(name, ansiToText(values[i]));
  }
  Shapefile f;
  ASSERT_TRUE(readWithTable(f, dbfFile(1, cols, {row}), 1));
  EXPECT_EQ(fieldsAt(f, 1), expected);
  for (std::int16_t i = 1; i <= 6; ++i) {
    auto c = f.get_TableDescription()->getTableDescriptorByIndex(i);
    EXPECT_EQ(std::tuple(c->get_name(), c->get_fieldType(), c->get_width(), c->get_precision()),
              std::tuple(std::get<2>(cases[i - 1]), std::get<3>(cases[i - 1]),
                         std::uint8_t(values[i - 1].size()), std::uint8_t(i - 1)));
  }
  EXPECT_EQ(fieldsAt(f, 1)[5].second, u"\u20AC\u0081\t");
}

TEST(ReadTableTest, RecordsFollowTheFileColumns) {
  // A repeated name is one column and one field, but its bytes still take their room; a column
  // of width 0 takes none, and its values are empty.
  Shapefile f;
  File dbf = dbfFile(2, {{"A", 'C', 2}, {"A", 'N', 3}, {"E", 'C', 0}, {"B", 'C', 1}},
                     {" 11222Z", " 33444Y"});
  ASSERT_TRUE(readWithTable(f, dbf, 2));
  EXPECT_EQ(f.get_TableDescription()->get_DescriptorCount(), 3);
  EXPECT_EQ(f.get_TableDescription()->getTableDescriptorByName(u"E")->get_width(), 0);
  EXPECT_EQ(fieldsAt(f, 1), (Fields{{u"A", u"11"}, {u"E", u""}, {u"B", u"Z"}}));
  EXPECT_EQ(fieldsAt(f, 2), (Fields{{u"A", u"33"}, {u"E", u""}, {u"B", u"Y"}}));
}

// A read record makes its fields when it is first reached; whichever member reaches them first,
// the record answers and changes as one that a caller built with the same fields.
TEST(ReadTableTest, EveryMemberReachesTheFieldsOfARecordNotYetUsed) {
  using Use = std::u16string (*)(Record&);
  const Use uses[] = {
      [](Record& r) { return textOf(r.get_FieldCount()); },
      [](Record& r) { return textOf(r.get_Fields()->count()); },
      [](Record& r) {
        std::u16string names;
        for (const Variant& item : *r.get_Fields()) names += item.deref<RecordField>().name();
        return names;
      },
      [](Record& r) { return r.getFieldByName(u"B")->get_value(); },
      [](Record& r) { return r.getFieldByIndex(2)->get_name() + r.getFieldByIndex(3)->get_name(); },
      [](Record& r) { return textOf(r.setField(u"A", u"set")) + textOf(r.setField(u"Z", u"")); },
      [](Record& r) {
        return textOf(r.addField(fieldOf(u"C"))) + textOf(r.addField(fieldOf(u"A")));
      },
      [](Record& r) { return textOf(r.removeFieldByName(u"A")); },
      [](Record& r) { return textOf(r.removeFieldByIndex(2)) + textOf(r.removeFieldByIndex(3)); },
      [](Record& r) {
        r.putref_Fields(makeRef<Collection>());
        return textOf(r.get_FieldCount());
      },
      [](Record& r) {
        r.putref_Fields(nullptr);
        return textOf(errorOf([&] { r.get_FieldCount(); }));
      }};
  for (std::size_t k = 0; k < std::size(uses); ++k) {
    Shapefile f;
    ASSERT_TRUE(readWithTable(f, dbfFile(1, {{"A", 'C', 2}, {"B", 'C', 1}}, {" xyz"}), 1));
    Ref<Record> read = f.getShapeObject(1)->get_Record();
    Ref<Record> made =
        makeShape(kelPoint, {{1, 2}}, {}, {{u"A", u"xy"}, {u"B", u"z"}})->get_Record();
    EXPECT_EQ(uses[k](*read), uses[k](*made)) << k;
    if (read->get_Fields()) {
      EXPECT_EQ(fieldsOf(read), fieldsOf(made)) << k;
    }
  }
  // Made once, the fields are the same objects however they are reached.
  Shapefile f;
  ASSERT_TRUE(readWithTable(f, dbfFile(1, {{"A", 'C', 2}}, {" xy"}), 1));
  Ref<Record> record = f.getShapeObject(1)->get_Record();
  EXPECT_EQ(record->get_Fields(), record->get_Fields());
  EXPECT_EQ(record->getFieldByName(u"A").get(), record->get_Fields()->peek(1));
  EXPECT_EQ(record->getFieldByIndex(1), record->getFieldByName(u"A"));
}

// A name or value read from a table is the field's own: it outlives the file, its record and
// its neighbours, and changes like any other, also to a piece of itself.
TEST(ReadTableTest, ReadNamesAndValuesBelongToTheirFields) {
  Ref<RecordField> kept, changed;
  Ref<Record> unused;
  {
    auto f = makeRef<Shapefile>();
    File dbf = dbfFile(3, {{"A", 'C', 5}, {"B", 'C', 3}}, {" helloabc", " worldxyz", " againdef"});
    ASSERT_TRUE(readWithTable(*f, dbf, 3));
    unused = f->getShapeObject(3)->get_Record();
    kept = f->getShapeObject(2)->get_Record()->getFieldByName(u"B");
    changed = f->getShapeObject(1)->get_Record()->getFieldByName(u"A");
    changed->put_value(changed->value().substr(1, 3));
    EXPECT_EQ(changed->get_value(), u"ell");
    EXPECT_EQ(fieldsAt(*f, 1), (Fields{{u"A", u"ell"}, {u"B", u"abc"}}));
  }
  EXPECT_EQ(fieldsOf(unused), (Fields{{u"A", u"again"}, {u"B", u"def"}}));  // first used now
  EXPECT_EQ(kept->value(), u"xyz");
  EXPECT_EQ(kept->get_value(), u"xyz");
  EXPECT_EQ(kept->get_name(), u"B");
  kept->put_name(u"LONGER_NAME");
  EXPECT_EQ(kept->name(), u"LONGER_NAME");
  EXPECT_EQ(kept->value(), u"xyz");  // the value stays where it was read
  kept->setRecordField(u"C", u"new");
  EXPECT_EQ(kept->name(), u"C");
  EXPECT_EQ(kept->value(), u"new");
  EXPECT_EQ(changed->name(), u"A");
  EXPECT_EQ(changed->value(), u"ell");
}
