#include "attributes/TableDescription.h"

#include <gtest/gtest.h>

#include "attributes/RecordField.h"
#include "geometry/Coordinate.h"
#include "runtime/TestSupport.h"

namespace {

using namespace kel;
using test::errorOf;

Ref<TableDescriptor> column(std::u16string_view name) {
  auto d = makeRef<TableDescriptor>();
  d->put_name(name);
  return d;
}

TEST(TableDescriptionTest, AddLookupAndSetTypeCompareNamesExactly) {
  TableDescription t;
  auto cap = column(u"Name");
  EXPECT_TRUE(t.addTableDescriptor(cap));
  EXPECT_TRUE(t.addTableDescriptor(column(u"NAME")));
  EXPECT_FALSE(t.addTableDescriptor(column(u"Name")));
  EXPECT_FALSE(t.addTableDescriptor(cap));
  EXPECT_EQ(t.get_DescriptorCount(), 2);
  EXPECT_EQ(t.getTableDescriptorByName(u"Name"), cap);
  t.getTableDescriptorByIndex(1)->put_width(40);  // handed out as the description's own
  EXPECT_EQ(cap->get_width(), 40);
  for (const auto& miss : {t.getTableDescriptorByName(u"name"), t.getTableDescriptorByIndex(0),
                           t.getTableDescriptorByIndex(-1), t.getTableDescriptorByIndex(3)}) {
    ASSERT_TRUE(miss);
    EXPECT_EQ(miss->get_name(), u"");
    EXPECT_EQ(miss->get_fieldType() + miss->get_width(), kelFieldTypeCharacter);
    miss->put_name(u"name");
  }
  EXPECT_EQ(t.get_DescriptorCount(), 2);
  EXPECT_TRUE(t.setTableDescriptorType(u"name", kelFieldTypeDate).isEmpty());
  EXPECT_EQ(cap->get_fieldType(), kelFieldTypeCharacter);
  auto twin = column(u"Name");
  t.get_TableDescriptors()->add(Variant(twin));
  t.setTableDescriptorType(u"Name", static_cast<FieldTypeConstants>(99));
  EXPECT_EQ(cap->get_fieldType() + twin->get_fieldType(), 99 + kelFieldTypeCharacter);
}

TEST(TableDescriptionTest, RemoveByIndexAnswersFailureWithFalse) {
  TableDescription t;
  auto b = column(u"B");
  for (const auto& d : {column(u"A"), b, column(u"C")}) t.addTableDescriptor(d);
  for (std::int16_t bad : {0, -1, 4}) EXPECT_FALSE(t.removeTableDescriptorByIndex(bad));
  EXPECT_TRUE(t.removeTableDescriptorByIndex(1));
  EXPECT_EQ(t.get_DescriptorCount(), 2);
  EXPECT_EQ(t.getTableDescriptorByIndex(1), b);
  t.putref_TableDescriptors(nullptr);
  EXPECT_FALSE(t.removeTableDescriptorByIndex(1));
}

TEST(TableDescriptionTest, RemoveByNameAsksEachItemForItsNameLateBound) {
  TableDescription t;
  auto items = makeRef<Collection>();
  auto field = makeRef<RecordField>();
  field->put_name(u"f");
  auto b1 = column(u"b"), b2 = column(u"b");
  for (const Variant& v : {Variant(field), Variant(b1), Variant(b2)}) items->add(v);
  t.putref_TableDescriptors(items);
  EXPECT_FALSE(t.removeTableDescriptorByName(u"B"));
  EXPECT_TRUE(t.removeTableDescriptorByName(u"f"));  // anything with a name property passes
  EXPECT_TRUE(t.removeTableDescriptorByName(u"b"));
  ASSERT_EQ(items->count(), 1);
  EXPECT_EQ(items->item(1).object(), b2.get());
  // An item is asked only once the walk reaches it.
  items->add(Variant(makeRef<Coordinate>()));
  EXPECT_TRUE(t.removeTableDescriptorByName(u"b"));
  EXPECT_EQ(errorOf([&] { t.removeTableDescriptorByName(u"b"); }), 438);
  items->remove(1);
  items->add(Variant(std::int32_t{7}));
  EXPECT_EQ(errorOf([&] { t.removeTableDescriptorByName(u"b"); }), 424);
  items->remove(1);
  items->add(Variant(nullptr));
  EXPECT_EQ(errorOf([&] { t.removeTableDescriptorByName(u"b"); }), 91);
}

TEST(TableDescriptionTest, SharedCollectionAndCountOverflow) {
  TableDescription t1, t2;
  t2.putref_TableDescriptors(t1.get_TableDescriptors());
  t1.addTableDescriptor(column(u"A"));
  EXPECT_FALSE(t2.addTableDescriptor(column(u"A")));
  auto d = column(u"X");
  while (t2.get_TableDescriptors()->count() < 32767) t2.get_TableDescriptors()->add(Variant(d));
  EXPECT_EQ(t1.get_DescriptorCount(), 32767);
  t1.get_TableDescriptors()->add(Variant(d));
  EXPECT_EQ(errorOf([&] { t2.get_DescriptorCount(); }), 6);
}

}  // namespace
