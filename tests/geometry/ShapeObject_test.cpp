#include "kel/geometry/ShapeObject.h"

#include <gtest/gtest.h>

#include <bit>

#include "support/ErrorOf.h"

using namespace kel;
using kel::testing::errorOf;

static std::vector<std::uint64_t> bits(double a, double b, double c, double d) {
  return {std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(b),
          std::bit_cast<std::uint64_t>(c), std::bit_cast<std::uint64_t>(d)};
}
// The box's bits, so that -0 and +0, and NaN payloads, tell apart.
static std::vector<std::uint64_t> boxOf(const ShapeObject& s) {
  const BoundingBox& b = *s.get_BoundingBox();
  return bits(b.get_xMin(), b.get_yMin(), b.get_xMax(), b.get_yMax());
}
static ShapeObject& add(ShapeObject& s, double x, double y) {
  auto c = makeRef<Coordinate>();
  c->setCoordinate(x, y);
  s.addCoord(c);
  return s;
}

TEST(ShapeObjectTest, PartStartsAndSharedMembersKeepEveryBit) {
  ShapeObject s, other;
  // Every shape starts its first part at 0, so a 0 is ignored wherever it comes; anything else
  // is kept in order, duplicates included.
  for (std::int32_t p : {0, 7, 3, 0, 5, 5, -2}) EXPECT_TRUE(s.addPart(p).isEmpty());
  const std::int32_t expected[] = {0, 7, 3, 5, 5, -2};
  ASSERT_EQ(s.get_PartCount(), 6);
  for (std::int16_t i = 1; i <= 6; ++i) EXPECT_EQ(s.getPart(i), expected[i - 1]);
  add(s, 1, 2).get_Coordinates()->add(Variant(s.getCoord(1)));  // the same vertex again
  EXPECT_EQ(s.getCoord(2), s.getCoord(1));
  EXPECT_EQ(errorOf([&] { s.getCoord(3); }), 9);
  // Shapes sharing a box show whichever ran last; a vertex moved by its holder counts next time.
  s.put_BoundingBox(other.get_BoundingBox());
  add(other, 7, 8);
  s.getCoord(2)->setCoordinate(-4, 9);
  s.computeExtents();
  other.computeExtents();
  EXPECT_EQ(boxOf(s), bits(7, 8, 7, 8));
  s.computeExtents();
  EXPECT_EQ(boxOf(other), bits(-4, 9, -4, 9));
  // Negative zero, a NaN payload and a denormal pass every setter and getter unchanged.
  const double z = -0.0, nan = std::bit_cast<double>(0x7FF8'0000'0000'1234ULL), tiny = 4.9e-324;
  s.get_BoundingBox()->setBoundingBox(z, nan, tiny, 1);
  s.getCoord(1)->setCoordinate(nan, tiny);
  EXPECT_EQ(boxOf(s), bits(z, nan, tiny, 1));
  EXPECT_EQ(bits(s.getCoord(1)->get_X(), s.getCoord(1)->get_Y(), 0, 0), bits(nan, tiny, 0, 0));
}

TEST(ShapeObjectTest, ComputeExtentsByShapeType) {
  for (int type : {int{kelPolyLine}, int{kelMultiPoint}, 42}) {
    ShapeObject s;
    s.put_ShapeType(static_cast<ShapeTypeConstants>(type));
    s.get_BoundingBox()->setBoundingBox(1, 2, 3, 4);
    s.computeExtents();
    EXPECT_EQ(boxOf(s), bits(1, 2, 3, 4)) << type;  // no vertices: nothing is reset
    EXPECT_TRUE(add(add(add(s, 1, 5), 3, 2), -1, 4).computeExtents().isEmpty());
    EXPECT_EQ(boxOf(s), bits(-1, 2, 3, 5)) << type;
  }
  // A Point takes its first vertex only; without one, the box stays as it was.
  ShapeObject p;
  p.put_ShapeType(kelPoint);
  p.get_BoundingBox()->setBoundingBox(1, 2, 3, 4);
  EXPECT_EQ(errorOf([&] { p.computeExtents(); }), 9);
  EXPECT_EQ(boxOf(p), bits(1, 2, 3, 4));
  add(add(p, 2, 3), 9, -9).computeExtents();
  EXPECT_EQ(boxOf(p), bits(2, 3, 2, 3));
}

TEST(ShapeObjectTest, ComputeExtentsReplacesOnlyStrictlyBeyondAndReadsNothingAsOrigin) {
  // An equal value never replaces a bound, so -0 leaves +0 in place and the other way round.
  ShapeObject s;
  add(add(s, 0.0, -0.0), -0.0, 0.0).computeExtents();
  EXPECT_EQ(boxOf(s), bits(0.0, -0.0, 0.0, -0.0));
  s.putref_Coordinates(makeRef<Collection>());
  add(s, 5, 5).addCoord(Ref<Coordinate>());
  add(s, 7, 3).computeExtents();
  EXPECT_EQ(boxOf(s), bits(0, 0, 7, 5));
  s.put_BoundingBox(nullptr);
  EXPECT_EQ(errorOf([&] { s.computeExtents(); }), 91);
}

TEST(ShapeObjectTest, ComputeExtentsCountsVerticesInSixteenBits) {
  ShapeObject s;
  for (int i = 1; i <= 32766; ++i) add(s, i, -i);
  EXPECT_EQ(errorOf([&] { s.computeExtents(); }), 0);
  EXPECT_EQ(boxOf(s), bits(1, -32766, 32766, -1));
  // The 32767th vertex still reaches the box before the counter overflows.
  EXPECT_EQ(errorOf([&] { add(s, 1e6, -1e6).computeExtents(); }), 6);
  EXPECT_EQ(boxOf(s), bits(1, -1e6, 1e6, -1));
}
