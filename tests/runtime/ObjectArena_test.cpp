#include "kel/runtime/ObjectArena.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "kel/geometry/Coordinate.h"
#include "kel/geometry/ShapeObject.h"
#include "kel/runtime/Collection.h"
#include "support/ErrorOf.h"

namespace kel {
namespace {

using kel::testing::errorOf;

// Objects of an arena outlive the arena and each other in any order, across many chunks, also
// when a constructor makes objects of its own in the arena and so moves it on to a new chunk.
// The sanitizer runs catch a chunk freed too early or never.
TEST(ObjectArena, ObjectsLiveByTheirOwnReferencesAcrossChunks) {
  std::vector<Ref<Object>> kept;
  {
    ObjectArena arena;
    for (int i = 0; i < 20000; ++i) {
      auto shape = arena.make<ShapeObject>(arena);
      shape->put_ShapeType(kelPolyLine);
      Coordinate* row = arena.makeRow<Coordinate>(i % 7 == 0 ? 5000 : 3);
      row->setCoordinate(i, -i);
      shape->get_Coordinates()->adoptRow(row, i % 7 == 0 ? 5000 : 3, sizeof(Coordinate));
      if (i % 3 == 0) kept.emplace_back(shape);
      if (i % 5 == 0) kept.emplace_back(shape->getCoord(1));
    }
  }
  for (std::size_t i = 0; i < kept.size(); i += 2) kept[i] = nullptr;  // every other one first
  int shapes = 0, coordinates = 0;
  for (const Ref<Object>& o : kept) {
    if (auto* shape = objectCast<ShapeObject>(o.get())) {
      ++shapes;
      EXPECT_EQ(shape->get_ShapeType(), kelPolyLine);
      EXPECT_EQ(shape->getCoord(1)->get_X(), -shape->getCoord(1)->get_Y());
    } else if (auto* c = objectCast<Coordinate>(o.get())) {
      ++coordinates;
      EXPECT_EQ(c->get_X(), -c->get_Y());
    }
  }
  EXPECT_GT(shapes, 1000);
  EXPECT_GT(coordinates, 1000);
}

// What one thread makes, another may end while the first goes on making objects in the same
// chunks: the chunk counts must neither free a chunk early (the sanitizer runs catch the write
// into freed memory) nor lose the values of the objects that stay.
TEST(ObjectArena, ObjectsMadeOnOneThreadMayEndOnAnother) {
  std::vector<Ref<Coordinate>> kept;
  std::thread releaser;
  for (int b = 0; b < 400; ++b) {
    std::vector<Ref<Coordinate>> batch;
    for (int i = 0; i < 1000; ++i) {
      auto c = makeRef<Coordinate>();
      c->setCoordinate(b, i);
      (i == 0 ? kept : batch).push_back(std::move(c));
    }
    if (releaser.joinable()) releaser.join();
    // Ends the batch there while this thread goes on making the next one.
    releaser = std::thread([batch = std::move(batch)]() mutable { batch.clear(); });
  }
  releaser.join();
  for (std::size_t b = 0; b < kept.size(); ++b) {
    EXPECT_EQ(kept[b]->get_X(), static_cast<double>(b));
    EXPECT_EQ(kept[b]->get_Y(), 0);
    EXPECT_EQ(kept[b]->refCount(), 1u);
  }
}

// A list ends its items together, whatever made them: the thread's arena over several chunks,
// another arena, the heap. Items held elsewhere too stay with their other holders, and what an
// item's end releases in turn may lie in the chunk of items still being ended.
TEST(ObjectArena, AListEndsItsItemsTogetherWhereverTheyWereMade) {
  std::vector<Ref<Coordinate>> kept;
  Ref<Coordinate> onTheHeap(new Coordinate);
  onTheHeap->setCoordinate(-1, -1);
  {
    ObjectArena other;
    auto list = makeRef<Collection>();
    for (int i = 0; i < 6000; ++i) {  // 144 KB of vertices: more than two chunks
      auto c = makeRef<Coordinate>();
      c->setCoordinate(i, 2 * i);
      if (i % 1000 == 0) kept.push_back(c);
      list->add(Variant(c));
      if (i % 1500 == 0) {
        auto shape = makeRef<ShapeObject>();
        shape->addCoord(c);
        list->add(Variant(shape));
        list->add(Variant(nullptr));
        list->add(Variant(other.make<Coordinate>()));
        list->add(Variant(onTheHeap));
      }
    }
    EXPECT_EQ(kept[0]->refCount(), 3u);  // the list, the shape and `kept`
    EXPECT_EQ(onTheHeap->refCount(), 5u);
  }
  EXPECT_EQ(onTheHeap->refCount(), 1u);
  EXPECT_EQ(onTheHeap->get_X(), -1);
  ASSERT_EQ(kept.size(), 6u);
  for (std::size_t k = 0; k < kept.size(); ++k) {
    EXPECT_EQ(kept[k]->refCount(), 1u);
    EXPECT_EQ(kept[k]->get_X(), 1000.0 * static_cast<double>(k));
    EXPECT_EQ(kept[k]->get_Y(), 2000.0 * static_cast<double>(k));
  }
}

// Each end releases what the object held, which may end in turn: a chain of a million objects,
// each holding the next (lists of objects and of variants, shapes, records, from the thread's
// arena and from the heap), ends whole when its head goes, in bounded stack.
TEST(ObjectArena, ALongChainOfHoldersEndsWhole) {
  auto last = makeRef<Coordinate>();
  Ref<Object> chain = last;
  for (int i = 0; i < 1000000; ++i) {
    auto list = i % 100 == 3 ? Ref<Collection>(new Collection) : makeRef<Collection>();
    list->addObject(chain.get());
    if (i % 10 == 5) list->add(Variant(std::int32_t{i}));
    chain = list;
    if (i % 100 == 1) {
      auto shape = makeRef<ShapeObject>();
      shape->putref_Coordinates(list);
      chain = shape;
    } else if (i % 100 == 2) {
      auto record = makeRef<Record>();
      record->putref_Fields(list);
      chain = record;
    }
  }
  EXPECT_EQ(last->refCount(), 2u);
  chain = nullptr;
  EXPECT_EQ(last->refCount(), 1u);
}

#if defined(KEL_ADDRESS_SANITIZER)
// An object's memory stays in its chunk after the object ends; the sanitizer runs must still see
// a use after the end, whichever arena made the object and however it ended.
TEST(ObjectArenaDeathTest, UseAfterTheEndIsCaughtUnderAddressSanitizer) {
  auto use = [](const Coordinate* c) { return c->get_X(); };
  EXPECT_DEATH(
      {
        Coordinate* raw = makeRef<Coordinate>().get();  // ends with its only reference
        std::printf("%f", use(raw));
      },
      "use-after-poison");
  EXPECT_DEATH(
      {
        ObjectArena arena;
        auto list = makeRef<Collection>();
        Coordinate* row = arena.makeRow<Coordinate>(3);
        list->adoptRow(row, 3, sizeof(Coordinate));
        list = nullptr;  // the row ends with its list
        std::printf("%f", use(&row[1]));
      },
      "use-after-poison");
}
#endif

}  // namespace
}  // namespace kel
