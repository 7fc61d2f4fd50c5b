#include "attributes/RecordField.h"

#include <gtest/gtest.h>

#include "runtime/Ref.h"

namespace {

TEST(RecordFieldTest, StartsEmptyAndAnOmittedValueClearsTheOldOne) {
  auto f = kel::makeRef<kel::RecordField>();
  EXPECT_EQ(f->get_name() + f->get_value(), u"");
  f->setRecordField(u"A", u" old ");
  EXPECT_EQ(f->get_value(), u" old ");  // text is kept untrimmed
  f->setRecordField(u"A");
  EXPECT_EQ(f->get_name(), u"A");
  EXPECT_EQ(f->get_value(), u"");
}

}  // namespace
