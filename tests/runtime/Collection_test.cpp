#include "kel/runtime/Collection.h"

#include <gtest/gtest.h>

#include <vector>

#include "kel/geometry/Coordinate.h"
#include "kel/geometry/ShapeObject.h"
#include "kel/runtime/ObjectArena.h"
#include "support/ErrorOf.h"

using namespace kel;
using kel::testing::errorOf;

namespace {

// The error a walk over the list's coordinates raises (0 for none), and the X of each visited.
using Walk = std::pair<std::int32_t, std::vector<double>>;
Walk walk(const Collection& c) {
  std::vector<double> xs;
  std::int32_t error = errorOf(
      [&] { c.forEachObject<Coordinate>([&](const Coordinate& p) { xs.push_back(p.get_X()); }); });
  return {error, xs};
}

}  // namespace

// A list holds its items as a row of an arena's objects, as objects and Nothing, or as any
// variants, and no caller can tell: the same three coordinates answer alike in each form, and
// through the changes that turn one form into the next, positions, objects and references hold.
TEST(Collection, EveryFormAnswersAlikeThroughTheChangesThatTurnItIntoTheNext) {
  for (int form : {0, 1, 2}) {
    SCOPED_TRACE(form);
    Ref<Coordinate> kept;
    {
      ObjectArena arena;
      auto list = makeRef<Collection>();
      std::vector<Coordinate*> items;
      if (form == 0) {
        Coordinate* row = arena.makeRow<Coordinate>(3);
        for (int i = 0; i < 3; ++i) items.push_back(&row[i]);
        list->adoptRow(row, 3, sizeof(Coordinate));
        EXPECT_EQ(errorOf([&] { list->adoptRow(row, 3, sizeof(Coordinate)); }), 5);  // not empty
      } else {
        if (form == 2) list->reserveValues(3);  // the form of variants from the start
        for (int i = 0; i < 3; ++i) {
          auto c = makeRef<Coordinate>();
          items.push_back(c.get());
          list->add(Variant(c));
        }
      }
      for (int i = 0; i < 3; ++i) items[i]->setCoordinate(i + 1, 0);
      ASSERT_EQ(list->count(), 3);
      for (std::int32_t i = 1; i <= 3; ++i) {
        EXPECT_EQ(list->item(i).as<Coordinate>().get(), items[i - 1]);
        EXPECT_EQ(&list->objectAt<Coordinate>(i), items[i - 1]);
        EXPECT_EQ(list->peek(i), items[i - 1]);
      }
      for (std::int32_t bad : {0, -1, 4}) {
        EXPECT_EQ(errorOf([&] { list->item(bad); }), 9) << bad;
        EXPECT_EQ(errorOf([&] { list->peek(bad); }), 9) << bad;
        EXPECT_EQ(errorOf([&] { list->remove(bad); }), 9) << bad;
      }
      EXPECT_EQ(errorOf([&] { list->objectAt<ShapeObject>(1); }), 13);
      double sum = 0;
      for (const Variant& item : *list) sum += item.deref<Coordinate>().get_X();
      EXPECT_EQ(sum, 6);
      EXPECT_EQ(walk(*list), (Walk{0, {1, 2, 3}}));
      EXPECT_EQ(items[0]->refCount(), 1u);  // lookups, enumeration and walks leave it be

      // A walk stops where objectAt raises, having visited every item before: at Nothing, at an
      // object of another class, at an item that is no object (which turns objects into variants).
      const std::tuple<Variant, std::int32_t, std::int32_t> stops[] = {
          {Variant(nullptr), 91, 0},
          {Variant(makeRef<Collection>()), 13, 0},
          {Variant(std::int32_t{7}), 13, 13}};
      for (const auto& [stop, error, peekError] : stops) {
        auto after = makeRef<Coordinate>();
        list->add(stop);
        list->add(Variant(after));
        EXPECT_EQ(walk(*list), (Walk{error, {1, 2, 3}}));
        EXPECT_EQ(errorOf([&] { list->objectAt<Coordinate>(4); }), error);
        EXPECT_EQ(errorOf([&] { list->peek(4); }), peekError);
        EXPECT_EQ(list->item(4).isNothing(), error == 91);
        list->remove(5);
        list->remove(4);
        EXPECT_EQ(after->refCount(), 1u);  // a removed item is let go
        EXPECT_EQ(walk(*list), (Walk{0, {1, 2, 3}}));
      }
      // Removal shifts the later items down; an item added again is shared, never copied.
      kept = list->item(1).as<Coordinate>();
      list->remove(2);
      list->add(Variant(kept));
      ASSERT_EQ(list->count(), 3);
      EXPECT_EQ(list->item(1).as<Coordinate>(), kept);
      EXPECT_EQ(list->peek(2), items[2]);
      EXPECT_EQ(list->item(3).as<Coordinate>(), kept);
      EXPECT_EQ(kept->refCount(), 3u);
    }
    EXPECT_EQ(kept->refCount(), 1u);  // it outlives its list and the arena that made it
    EXPECT_EQ(kept->get_X(), 1);
  }
}
