#include "kel/attributes/Record.h"

#include <gtest/gtest.h>

#include "kel/runtime/Text.h"
#include "support/ErrorOf.h"

using namespace kel;
using kel::testing::errorOf;

static Ref<RecordField> field(std::u16string_view name, std::u16string_view value = {}) {
  auto f = makeRef<RecordField>();
  f->setRecordField(u"old", u"old");
  f->setRecordField(name, value);  // an omitted value clears the old one
  return f;
}

TEST(RecordTest, NamesCompareExactlyAndMissesAnswerWithDetachedFields) {
  Record r, shared;
  shared.putref_Fields(r.get_Fields());
  auto a = field(u"A", u" 1 ");
  EXPECT_TRUE(r.addField(a));
  EXPECT_TRUE(shared.addField(field(u"a")));
  for (const auto& dup : {field(u"A", u"2"), a}) EXPECT_FALSE(r.addField(dup));
  EXPECT_FALSE(r.setField(u"Z", u"x"));
  EXPECT_TRUE(r.setField(u"a", u"x"));
  EXPECT_EQ(r.getFieldByIndex(2)->get_value() + r.getFieldByName(u"A")->get_value(), u"x 1 ");
  for (const auto& miss : {r.getFieldByName(u"Z"), r.getFieldByIndex(0), r.getFieldByIndex(3)}) {
    ASSERT_TRUE(miss);
    EXPECT_EQ(miss->get_name() + miss->get_value(), u"");
    miss->setRecordField(u"Z", u"lost");
  }
  EXPECT_EQ(r.getFieldByName(u"Z")->get_value(), u"");
  for (std::int16_t bad : {0, -1, 3}) EXPECT_FALSE(r.removeFieldByIndex(bad));
  EXPECT_FALSE(r.removeFieldByName(u"Z"));
  EXPECT_TRUE(shared.removeFieldByName(u"A"));
  EXPECT_EQ(r.get_FieldCount(), 1);
}

TEST(RecordTest, CountsAndNameRemovalOverflowBeyondSixteenBits) {
  Record r;
  // Filled through the collection: addField's uniqueness scan would make this quadratic.
  for (int i = 1; i <= 32767; ++i) r.get_Fields()->add(Variant(field(toUtf16(std::to_string(i)))));
  EXPECT_EQ(r.get_FieldCount(), 32767);
  EXPECT_EQ(errorOf([&] { r.removeFieldByName(u"none"); }), 6);
  EXPECT_TRUE(r.removeFieldByName(u"32767"));  // a match at the last position still works
  EXPECT_EQ(errorOf([&] { r.removeFieldByName(u"none"); }), 0);
  r.get_Fields()->add(Variant(field(u"X")));
  r.get_Fields()->add(Variant(field(u"Y")));
  EXPECT_EQ(errorOf([&] { r.get_FieldCount(); }), 6);
  EXPECT_EQ(errorOf([&] { r.removeFieldByName(u"1"); }), 6);
}
