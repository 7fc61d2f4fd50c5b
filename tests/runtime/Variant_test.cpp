#include "kel/runtime/Variant.h"

#include <gtest/gtest.h>

#include "kel/geometry/Coordinate.h"
#include "kel/runtime/Collection.h"
#include "kel/runtime/Text.h"
#include "support/ErrorOf.h"

using namespace kel;
using kel::testing::errorOf;

TEST(Variant, ConvertsTextAndNumbersWithAutomationRules) {
  // Doubles round half to even, and nothing wraps: a value out of range is an overflow.
  for (auto [in, out] :
       {std::pair{2.5, 2}, {3.5, 4}, {-2.5, -2}, {2.5001, 3}, {-32768.5, -32768}}) {
    EXPECT_EQ(Variant(in).toInt16(), out) << in;
    EXPECT_EQ(Variant(in).toInt32(), out) << in;
  }
  EXPECT_EQ(Variant(u" 2.5 ").toInt32(), 2);
  for (const char16_t* bad : {u"abc", u"", u"   ", u"12abc", u"nan", u"0x10"}) {
    EXPECT_EQ(errorOf([&] { Variant(bad).toInt16(); }), 13) << toUtf8(bad);
  }
  for (const Variant& big : {Variant(u"40000"), Variant(std::int32_t{40000}), Variant(32767.5)}) {
    EXPECT_EQ(errorOf([&] { big.toInt16(); }), 6);
  }
  EXPECT_EQ(errorOf([] { Variant(2147483647.5).toInt32(); }), 6);
  EXPECT_EQ(Variant().toText() + Variant(std::int16_t{-12}).toText() + Variant(2.5).toText(),
            u"-122.5");
}

TEST(Variant, ObjectsAreSharedAndReachedByClass) {
  Ref<Coordinate> c = makeRef<Coordinate>();
  {
    Variant v(c), copy = v, nothing(nullptr);
    EXPECT_EQ(c->refCount(), 3u);
    copy.deref<Coordinate>().put_X(4.0);
    EXPECT_EQ(v.as<Coordinate>()->get_X(), 4.0);
    EXPECT_EQ(errorOf([&] { v.deref<Collection>(); }), 13);
    EXPECT_EQ(errorOf([&] { Variant(u"x").as<Coordinate>(); }), 13);
    EXPECT_EQ(errorOf([&] { nothing.deref<Coordinate>(); }), 91);
    v = Variant(u"x");
    EXPECT_EQ(c->refCount(), 2u);
  }
  EXPECT_EQ(c->refCount(), 1u);
  Variant text(u"first"), copy = text;
  text = Variant(u"changed");
  EXPECT_EQ(copy.toText(), u"first");
}

TEST(Variant, BooleansAndBytesAsAutomationHasThem) {
  Variant yes = Variant::boolean(true), no = Variant::boolean(false);
  EXPECT_EQ(yes.toInt32(), -1);  // true has all bits set
  EXPECT_EQ(yes.toText() + no.toText(), u"TrueFalse");
  for (const Variant& t : {Variant(u"true"), Variant(u" -1 "), Variant(0.5), Variant(u"2"), yes}) {
    EXPECT_TRUE(t.toBoolean()) << toUtf8(t.toText());
  }
  for (const Variant& f : {Variant(u"FALSE"), Variant(u"0"), Variant(), no}) {
    EXPECT_FALSE(f.toBoolean()) << toUtf8(f.toText());
  }
  EXPECT_EQ(errorOf([] { Variant(u"yes").toBoolean(); }), 13);
  EXPECT_EQ(errorOf([] { Variant(nullptr).toBoolean(); }), 13);

  EXPECT_EQ(Variant::byte(255).toInt16(), 255);
  EXPECT_EQ(Variant(254.5).toByte(), 254);  // half to even
  EXPECT_EQ(errorOf([] { Variant(std::int16_t{256}).toByte(); }), 6);
  EXPECT_EQ(errorOf([] { Variant(-0.6).toByte(); }), 6);
}
