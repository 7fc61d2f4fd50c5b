#include "runtime/ObjectBlock.h"

#include <gtest/gtest.h>

#include <vector>

#include "geometry/Coordinate.h"

namespace kel {
namespace {

// Objects made in a block outlive the maker and each other in any order; the sanitizer and
// leak-checking runs catch a block freed too early or never.
TEST(ObjectBlock, ObjectsLiveByTheirOwnReferences) {
  std::vector<Ref<Coordinate>> kept;
  {
    ObjectBlock<Coordinate> block(3);
    for (int i = 0; i < 5; ++i) {  // two more than the block holds: those stand alone
      Ref<Coordinate> c = block.make();
      c->setCoordinate(i, -i);
      kept.push_back(c);
    }
  }
  kept.erase(kept.begin());      // the first of the block goes first
  kept.erase(kept.begin() + 2);  // then one standing alone
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept[0]->get_X(), 1);
  EXPECT_EQ(kept[1]->get_Y(), -2);
  EXPECT_EQ(kept[2]->get_X(), 4);
  EXPECT_EQ(kept[0]->refCount(), 1u);
}

TEST(ObjectBlock, AnEmptyBlockMakesStandaloneObjects) {
  ObjectBlock<Coordinate> none(0);
  Ref<Coordinate> c = none.make();
  c->put_X(2.5);
  EXPECT_EQ(c->get_X(), 2.5);
}

}  // namespace
}  // namespace kel
