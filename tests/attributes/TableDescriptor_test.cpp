#include "attributes/TableDescriptor.h"

#include <gtest/gtest.h>

#include "runtime/Ref.h"

namespace {

using namespace kel;

void expectColumn(const TableDescriptor& d, std::u16string_view name, int type, int width,
                  int precision) {
  EXPECT_EQ(d.get_name(), name);
  EXPECT_EQ(d.get_fieldType(), type);
  EXPECT_EQ(d.get_width(), width);
  EXPECT_EQ(d.get_precision(), precision);
}

TEST(TableDescriptorTest, StartsAsCharacterAndOmittedArgumentsStoreDefaults) {
  auto d = makeRef<TableDescriptor>();
  expectColumn(*d, u"", 67, 0, 0);
  EXPECT_TRUE(d->setTableDescriptor(u"AREA", kelFieldTypeNumber, 12, 3).isEmpty());
  expectColumn(*d, u"AREA", 78, 12, 3);
  d->setTableDescriptor(u"NAME");  // defaults, not the values held before
  expectColumn(*d, u"NAME", 67, 0, 0);
  d->setTableDescriptor(u"WHEN", kelFieldTypeDate);
  expectColumn(*d, u"WHEN", 68, 0, 0);
}

}  // namespace
