#include "runtime/Variant.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "geometry/Coordinate.h"
#include "runtime/Collection.h"

using namespace kel;
using test::errorOf;

TEST(Variant, ConvertsTextAndNumbersWithAutomationRules) {
  EXPECT_EQ(Variant(u"12").toInt16(), 12);
  EXPECT_EQ(Variant(u" 12 ").toInt16(), 12);
  EXPECT_EQ(Variant(u"2.5").toInt32(), 2);
  for (const char16_t* bad : {u"abc", u"", u"   ", u"12abc", u"nan", u"0x10"}) {
    EXPECT_EQ(errorOf([&] { Variant(bad).toInt16(); }), 13) << toUtf8(bad);
  }
  EXPECT_EQ(errorOf([] { Variant(u"40000").toInt16(); }), 6);
  EXPECT_EQ(errorOf([] { Variant(std::int32_t{40000}).toInt16(); }), 6);
  EXPECT_EQ(Variant(2.5).toInt32(), 2);
  EXPECT_EQ(Variant(3.5).toInt16(), 4);
  EXPECT_EQ(Variant().toText(), u"");
  EXPECT_EQ(Variant(std::int16_t{-12}).toText(), u"-12");
  EXPECT_EQ(Variant(2.5).toText(), u"2.5");
}

TEST(Variant, ObjectsAreReachedByClass) {
  Ref<Coordinate> c = makeRef<Coordinate>();
  Variant v(c), nothing(nullptr);
  EXPECT_EQ(v.as<Coordinate>(), c);
  EXPECT_EQ(&v.deref<Coordinate>(), c.get());
  EXPECT_EQ(errorOf([&] { v.as<Collection>(); }), 13);
  EXPECT_EQ(errorOf([&] { v.deref<Collection>(); }), 13);
  EXPECT_EQ(errorOf([&] { v.toInt32(); }), 13);
  EXPECT_TRUE(nothing.isNothing());
  EXPECT_EQ(nothing.as<Coordinate>(), nullptr);
  EXPECT_EQ(errorOf([&] { nothing.deref<Coordinate>(); }), 91);
  for (const Variant& notObject : {Variant(), Variant(std::int32_t{1}), Variant(u"x")}) {
    EXPECT_EQ(errorOf([&] { notObject.as<Coordinate>(); }), 13);
  }
}

TEST(Variant, CopiesShareObjectsButNotText) {
  Ref<Coordinate> c = makeRef<Coordinate>();
  {
    Variant a(c);
    Variant b = a;
    Variant moved = std::move(b);
    EXPECT_EQ(c->refCount(), 3u);
    moved.deref<Coordinate>().put_X(4.0);
    EXPECT_EQ(c->get_X(), 4.0);
    a = Variant(u"x");
    EXPECT_EQ(c->refCount(), 2u);
  }
  EXPECT_EQ(c->refCount(), 1u);
  Variant text(u"first");
  Variant copy = text;
  text = Variant(u"changed");
  EXPECT_EQ(copy.toText(), u"first");
}
