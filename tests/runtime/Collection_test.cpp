#include "runtime/Collection.h"

#include <gtest/gtest.h>

#include <vector>

#include "geometry/Coordinate.h"
#include "runtime/ObjectArena.h"
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

// A walk visits the items in order whatever form the list is in, and at the first item that is
// no T it raises what objectAt raises there, having visited every item before it.
TEST(Collection, AWalkVisitsInOrderAndStopsWhereObjectAtWouldRaise) {
  auto walk = [](const Collection& c, std::vector<double>& xs) {
    xs.clear();
    return errorOf([&] {
      c.forEachObject<Coordinate>([&](const Coordinate& p) { xs.push_back(p.get_X()); });
    });
  };
  auto at = [](double x) {
    auto p = makeRef<Coordinate>();
    p->setCoordinate(x, 0);
    return p;
  };
  std::vector<double> xs;

  ObjectArena arena;
  Collection row;
  Coordinate* first = arena.makeRow<Coordinate>(3);
  for (int i = 0; i < 3; ++i) first[i].setCoordinate(i + 1, 0);
  row.adoptRow(first, 3, sizeof(Coordinate));
  EXPECT_EQ(walk(row, xs), 0);
  EXPECT_EQ(xs, (std::vector<double>{1, 2, 3}));

  Collection objects;
  for (Variant v : {Variant(at(1)), Variant(at(2)), Variant(nullptr), Variant(at(4))})
    objects.add(v);
  EXPECT_EQ(walk(objects, xs), 91);
  EXPECT_EQ(xs, (std::vector<double>{1, 2}));
  objects.remove(3);
  EXPECT_EQ(walk(objects, xs), 0);
  EXPECT_EQ(xs, (std::vector<double>{1, 2, 4}));
  objects.add(Variant(makeRef<Collection>()));  // an object of another class
  EXPECT_EQ(walk(objects, xs), 13);
  EXPECT_EQ(xs, (std::vector<double>{1, 2, 4}));

  Collection variants;
  for (Variant v : {Variant(at(1)), Variant(std::int32_t{2}), Variant(at(3))}) variants.add(v);
  EXPECT_EQ(walk(variants, xs), 13);
  EXPECT_EQ(xs, (std::vector<double>{1}));
  variants.remove(2);
  EXPECT_EQ(walk(variants, xs), 0);
  EXPECT_EQ(xs, (std::vector<double>{1, 3}));
}
