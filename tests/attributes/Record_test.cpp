#include "attributes/Record.h"

#include <gtest/gtest.h>

#include <string>

#include "geometry/Coordinate.h"
#include "runtime/TestSupport.h"
#include "runtime/Text.h"

namespace {

using namespace kel;
using test::errorOf;

Ref<RecordField> field(std::u16string_view name, std::u16string_view value = {}) {
  auto f = makeRef<RecordField>();
  f->setRecordField(name, value);
  return f;
}

TEST(RecordTest, AddAndSetFieldCompareNamesExactly) {
  Record r;
  auto a = field(u"A", u"1");
  EXPECT_TRUE(r.addField(a));
  EXPECT_TRUE(r.addField(field(u"a")));
  EXPECT_TRUE(r.addField(field(u"")));  // the empty name is a name like any other
  for (const auto& dup : {field(u"A", u"2"), a, field(u"")}) EXPECT_FALSE(r.addField(dup));
  EXPECT_EQ(r.get_FieldCount(), 3);
  EXPECT_EQ(r.getFieldByName(u"A"), a);
  EXPECT_EQ(a->get_value(), u"1");
  EXPECT_FALSE(r.setField(u"B", u"x"));
  EXPECT_TRUE(r.setField(u"a", u"x"));
  EXPECT_EQ(r.getFieldByIndex(2)->get_value() + a->get_value(), u"x1");
  EXPECT_EQ(r.get_FieldCount(), 3);
}

TEST(RecordTest, MissesAnswerWithDetachedFieldsAndRemovalsWithFalse) {
  Record r;
  auto a = field(u"A"), b = field(u"B"), c = field(u"C");
  for (const auto& f : {a, b, c}) r.addField(f);
  for (const auto& miss : {r.getFieldByName(u"Z"), r.getFieldByIndex(0), r.getFieldByIndex(-1),
                           r.getFieldByIndex(4)}) {
    ASSERT_TRUE(miss);
    EXPECT_EQ(miss->get_name() + miss->get_value(), u"");
    miss->setRecordField(u"Z", u"lost");
  }
  EXPECT_EQ(r.getFieldByName(u"Z")->get_value(), u"");
  for (std::int16_t bad : {0, -1, 4}) EXPECT_FALSE(r.removeFieldByIndex(bad));
  EXPECT_FALSE(r.removeFieldByName(u"a"));
  EXPECT_EQ(r.get_FieldCount(), 3);
  // A rename can give two fields one name; every lookup then acts on the earlier one.
  c->put_name(u"B");
  EXPECT_TRUE(r.setField(u"B", u"v"));
  EXPECT_EQ(b->get_value() + c->get_value(), u"v");
  EXPECT_TRUE(r.removeFieldByName(u"B"));
  EXPECT_EQ(r.getFieldByName(u"B"), c);
  EXPECT_TRUE(r.removeFieldByIndex(1));
  ASSERT_EQ(r.get_FieldCount(), 1);
  EXPECT_EQ(r.getFieldByIndex(1), c);
}

TEST(RecordTest, RecordsSharingOneCollectionSeeEachOthersFields) {
  Record r1, r2;
  r1.addField(field(u"A"));
  r2.putref_Fields(r1.get_Fields());
  r2.addField(field(u"B"));
  EXPECT_EQ(r1.getFieldByIndex(2)->get_name(), u"B");
  EXPECT_FALSE(r2.addField(field(u"A")));
}

TEST(RecordTest, NullAndForeignEntries) {
  Record r;
  EXPECT_TRUE(r.addField(Ref<RecordField>()));  // nothing to compare it with yet
  EXPECT_EQ(r.get_FieldCount(), 1);
  EXPECT_EQ(errorOf([&] { r.getFieldByName(u"A"); }), 91);
  r.putref_Fields(makeRef<Collection>());
  r.addField(field(u"A"));
  EXPECT_EQ(errorOf([&] { r.addField(Ref<RecordField>()); }), 91);
  r.get_Fields()->add(Variant(makeRef<Coordinate>()));
  EXPECT_TRUE(r.setField(u"A", u"x"));  // found before the foreign entry is reached
  EXPECT_EQ(errorOf([&] { r.removeFieldByName(u"B"); }), 13);
  r.putref_Fields(nullptr);
  EXPECT_FALSE(r.removeFieldByIndex(1));
  EXPECT_EQ(errorOf([&] { r.get_FieldCount(); }), 91);
  EXPECT_EQ(errorOf([&] { r.setField(u"A", u"x"); }), 91);
  EXPECT_EQ(errorOf([&] { r.getFieldByIndex(1); }), 91);
}

TEST(RecordTest, CountsAndNameRemovalOverflowBeyondSixteenBits) {
  Record r;
  // Filled through the collection: addField's uniqueness scan would make this quadratic.
  for (int i = 1; i <= 32767; ++i) r.get_Fields()->add(Variant(field(toUtf16(std::to_string(i)))));
  EXPECT_EQ(r.get_FieldCount(), 32767);
  EXPECT_EQ(errorOf([&] { r.removeFieldByName(u"none"); }), 6);
  EXPECT_TRUE(r.removeFieldByName(u"32767"));  // a match at the last position still works
  r.get_Fields()->add(Variant(field(u"X")));
  r.get_Fields()->add(Variant(field(u"Y")));
  EXPECT_EQ(errorOf([&] { r.get_FieldCount(); }), 6);
  EXPECT_EQ(errorOf([&] { r.removeFieldByName(u"1"); }), 6);
  EXPECT_EQ(r.get_Fields()->count(), 32768);
}

}  // namespace
