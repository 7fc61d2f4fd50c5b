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
