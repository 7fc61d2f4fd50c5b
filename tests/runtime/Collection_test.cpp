#include "runtime/Collection.h"

#include <gtest/gtest.h>

#include "geometry/Coordinate.h"
#include "support/ErrorOf.h"

using namespace kel;
using kel::testing::errorOf;

TEST(Collection, OneBasedPositionsShiftingRemovalAndSharedItems) {
  Collection c;
  Ref<Coordinate> p = makeRef<Coordinate>();
  for (Variant v : {Variant(std::int32_t{10}), Variant(p), Variant(std::int32_t{30}), Variant(p)}) {
    c.add(v);
  }
  EXPECT_EQ(p->refCount(), 3u);  // held by reference, not copied
  for (std::int32_t bad : {0, -1, 5}) {
    EXPECT_EQ(errorOf([&] { c.item(bad); }), 9) << bad;
    EXPECT_EQ(errorOf([&] { c.remove(bad); }), 9) << bad;
  }
  c.remove(2);
  c.remove(3);
  EXPECT_EQ(p->refCount(), 1u);
  EXPECT_EQ(c.count(), 2);
  EXPECT_EQ(c.item(2).toInt32(), 30);
}

// A list of objects and Nothing answers the same before and after its first item of another
// kind, and holds exactly one reference to each object all along.
TEST(Collection, ObjectsThenOtherItemsKeepPositionsAndReferences) {
  Ref<Coordinate> a = makeRef<Coordinate>(), b = makeRef<Coordinate>();
  Ref<Coordinate> gone = makeRef<Coordinate>();
  {
    Collection c;
    for (Variant v : {Variant(a), Variant(nullptr), Variant(b), Variant(a), Variant(gone)}) {
      c.add(v);
    }
    EXPECT_EQ(a->refCount(), 3u);
    c.remove(5);
    EXPECT_EQ(gone->refCount(), 1u);
    EXPECT_TRUE(c.item(2).isNothing());
    EXPECT_EQ(c.peek(2), nullptr);
    EXPECT_EQ(c.peek(3), b.get());
    EXPECT_EQ(errorOf([&] { c.objectAt<Coordinate>(2); }), 91);

    c.add(Variant(std::int32_t{7}));  // the first item that is no object
    ASSERT_EQ(c.count(), 5);
    EXPECT_EQ(c.item(1).as<Coordinate>(), a);
    EXPECT_TRUE(c.item(2).isNothing());
    EXPECT_EQ(&c.objectAt<Coordinate>(3), b.get());
    EXPECT_EQ(c.item(4).as<Coordinate>(), a);
    EXPECT_EQ(c.item(5).toInt32(), 7);
    EXPECT_EQ(errorOf([&] { c.peek(5); }), 13);
    EXPECT_EQ(a->refCount(), 3u);
    EXPECT_EQ(b->refCount(), 2u);
    c.remove(1);
    EXPECT_EQ(a->refCount(), 2u);
  }
  EXPECT_EQ(a->refCount(), 1u);
  EXPECT_EQ(b->refCount(), 1u);
}
