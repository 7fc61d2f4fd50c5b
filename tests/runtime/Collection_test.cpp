#include "runtime/Collection.h"

#include <gtest/gtest.h>

#include <vector>

#include "TestSupport.h"
#include "geometry/Coordinate.h"

using namespace kel;
using test::errorOf;

TEST(Collection, OneBasedPositionsAndShiftingRemoval) {
  Collection c;
  for (std::int32_t v : {10, 20, 30, 40}) c.add(Variant(v));
  EXPECT_EQ(c.item(4).toInt32(), 40);
  for (std::int32_t bad : {0, -1, 5}) {
    EXPECT_EQ(errorOf([&] { c.item(bad); }), 9) << bad;
    EXPECT_EQ(errorOf([&] { c.remove(bad); }), 9) << bad;
  }
  c.remove(2);
  c.remove(3);
  std::vector<std::int32_t> left;
  for (const Variant& v : c) left.push_back(v.toInt32());
  EXPECT_EQ(left, (std::vector<std::int32_t>{10, 30}));
  EXPECT_EQ(c.count(), 2);
  EXPECT_EQ(c.item(2).toInt32(), 30);
}

TEST(Collection, HoldsReferencesNotCopies) {
  Ref<Coordinate> p = makeRef<Coordinate>();
  Ref<Collection> c = makeRef<Collection>();
  c->add(Variant(p));
  c->add(Variant(p));
  EXPECT_EQ(p->refCount(), 3u);
  c->item(2).deref<Coordinate>().put_Y(7.5);
  EXPECT_EQ(c->item(1).as<Coordinate>()->get_Y(), 7.5);
  c->remove(1);
  EXPECT_EQ(p->refCount(), 2u);
}
