#include "kel/attributes/TableDescription.h"

#include <gtest/gtest.h>

#include "kel/attributes/RecordField.h"
#include "kel/geometry/Coordinate.h"
#include "support/ErrorOf.h"

using namespace kel;
using kel::testing::errorOf;

static Ref<TableDescriptor> column(std::u16string_view name) {
  auto d = makeRef<TableDescriptor>();
  d->setTableDescriptor(u"OLD", kelFieldTypeNumber, 12, 3);
  d->setTableDescriptor(name);  // omitted arguments store the defaults, not the values held
  return d;
}

TEST(TableDescriptionTest, NamesCompareExactlyAndMissesAreDetachedDefaults) {
  TableDescription t, shared;
  shared.putref_TableDescriptors(t.get_TableDescriptors());
  auto cap = column(u"Name");
  EXPECT_TRUE(t.addTableDescriptor(cap));
  EXPECT_TRUE(shared.addTableDescriptor(column(u"NAME")));
  EXPECT_FALSE(t.addTableDescriptor(column(u"NAME")));
  EXPECT_EQ(t.getTableDescriptorByName(u"Name"), cap);
  for (const auto& miss : {t.getTableDescriptorByName(u"name"), t.getTableDescriptorByIndex(0),
                           t.getTableDescriptorByIndex(3)}) {
    ASSERT_TRUE(miss);
    EXPECT_EQ(miss->get_name() + std::u16string(1, char16_t(miss->get_fieldType())), u"C");
    miss->put_name(u"name");  // detached: the description does not see it
  }
  EXPECT_EQ(t.get_DescriptorCount(), 2);
  for (std::int16_t bad : {0, 3}) EXPECT_FALSE(t.removeTableDescriptorByIndex(bad));
  EXPECT_TRUE(shared.removeTableDescriptorByIndex(1));
  EXPECT_EQ(t.getTableDescriptorByIndex(1)->get_name(), u"NAME");
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
