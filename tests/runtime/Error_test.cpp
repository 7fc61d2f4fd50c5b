#include "runtime/Error.h"

#include <gtest/gtest.h>

#include <tuple>

#include "TestSupport.h"

using namespace kel;

// Scripts test Err.Number against the numbers they already know, so the enum must keep them.
TEST(Error, CarriesAutomationNumberSourceAndDescription) {
  const std::tuple<ErrorNumber, int, std::u16string_view> cases[] = {
      {ErrorNumber::Overflow, 6, u"Overflow"},
      {ErrorNumber::SubscriptOutOfRange, 9, u"Subscript out of range"},
      {ErrorNumber::TypeMismatch, 13, u"Type mismatch"},
      {ErrorNumber::ObjectVariableNotSet, 91, u"Object variable or With block variable not set"},
      {ErrorNumber::ObjectDoesntSupportMember, 438,
       u"Object doesn't support this property or method"},
  };
  for (auto [name, number, text] : cases) {
    Error e(name);
    EXPECT_EQ(e.number(), number);
    EXPECT_EQ(e.source(), u"kelShapeLib");
    EXPECT_EQ(e.description(), text);
  }
  EXPECT_EQ(test::errorOf([] { raise(ErrorNumber::InputPastEndOfFile); }), 62);
}

TEST(Error, WhatIsUtf8) {
  EXPECT_STREQ(Error(ErrorNumber::Overflow).what(), "Overflow (error 6)");
  EXPECT_STREQ(Error(1004, u"Caller", u"caf\u00E9 \u4E2D").what(),
               "caf\xC3\xA9 \xE4\xB8\xAD (error 1004)");
}
