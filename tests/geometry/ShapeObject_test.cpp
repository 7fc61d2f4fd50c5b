#include "geometry/ShapeObject.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>

#include "runtime/TestSupport.h"

namespace {

using namespace kel;
using test::errorOf;
using Bits = std::array<std::uint64_t, 4>;

Bits bitsOf(double a, double b, double c, double d) {
  return {std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(b),
          std::bit_cast<std::uint64_t>(c), std::bit_cast<std::uint64_t>(d)};
}

Bits boxOf(const ShapeObject& s) {
  const BoundingBox& b = *s.get_BoundingBox();
  return bitsOf(b.get_xMin(), b.get_yMin(), b.get_xMax(), b.get_yMax());
}

Ref<Coordinate> coord(double x, double y) {
  auto c = makeRef<Coordinate>();
  c->setCoordinate(x, y);
  return c;
}

TEST(ShapeObjectTest, NewShapeAndPartStarts) {
  ShapeObject s;
  EXPECT_EQ(s.get_ShapeType(), kelUndefined);
  EXPECT_EQ(s.get_CoordinateCount(), 0);
  EXPECT_EQ(s.get_PartCount(), 1);
  EXPECT_EQ(s.get_Record()->get_FieldCount(), 0);
  EXPECT_EQ(boxOf(s), bitsOf(0.0, 0.0, 0.0, 0.0));
  // 0 is ignored wherever it comes; anything else is kept in order, duplicates included.
  for (std::int32_t p : {0, 7, 3, 0, 5, 5, -2}) EXPECT_TRUE(s.addPart(p).isEmpty());
  const std::int32_t expected[] = {0, 7, 3, 5, 5, -2};
  ASSERT_EQ(s.get_PartCount(), 6);
  for (std::int16_t i = 1; i <= 6; ++i) EXPECT_EQ(s.getPart(i), expected[i - 1]);
  for (std::int16_t bad : {0, -1, 7}) EXPECT_EQ(errorOf([&] { s.getPart(bad); }), 9);
}

TEST(ShapeObjectTest, MembersAreSharedNotCopied) {
  ShapeObject s, other;
  auto c = coord(1, 2);
  EXPECT_TRUE(s.addCoord(c).isEmpty());
  s.get_Coordinates()->add(Variant(c));  // the shape's own collection, same vertex again
  ASSERT_EQ(s.get_CoordinateCount(), 2);
  EXPECT_EQ(s.getCoord(2), c);
  for (std::int16_t bad : {0, -1, 3}) EXPECT_EQ(errorOf([&] { s.getCoord(bad); }), 9);
  // Shapes sharing a box show whichever ran last; a vertex moved by its holder counts next time.
  auto box = makeRef<BoundingBox>();
  s.put_BoundingBox(box);
  other.put_BoundingBox(box);
  other.addCoord(coord(7, 8));
  c->setCoordinate(-4, 9);
  s.computeExtents();
  other.computeExtents();
  EXPECT_EQ(boxOf(s), bitsOf(7, 8, 7, 8));
  s.computeExtents();
  EXPECT_EQ(boxOf(other), bitsOf(-4, 9, -4, 9));
}

TEST(ShapeObjectTest, ComputeExtentsByShapeType) {
  for (int type : {int{kelPolyLine}, int{kelUndefined}, int{kelMultiPoint}, 42}) {
    ShapeObject s;
    s.put_ShapeType(static_cast<ShapeTypeConstants>(type));
    s.get_BoundingBox()->setBoundingBox(1, 2, 3, 4);
    s.computeExtents();
    EXPECT_EQ(boxOf(s), bitsOf(1, 2, 3, 4)) << type;  // no vertices: nothing is reset
    for (const auto& c : {coord(1, 5), coord(3, 2), coord(-1, 4)}) s.addCoord(c);
    EXPECT_TRUE(s.computeExtents().isEmpty());
    EXPECT_EQ(boxOf(s), bitsOf(-1, 2, 3, 5)) << type;
  }
  // A Point takes its first vertex only; without one, the box stays as it was.
  ShapeObject p;
  p.put_ShapeType(kelPoint);
  p.get_BoundingBox()->setBoundingBox(1, 2, 3, 4);
  EXPECT_EQ(errorOf([&] { p.computeExtents(); }), 9);
  EXPECT_EQ(boxOf(p), bitsOf(1, 2, 3, 4));
  p.addCoord(coord(2, 3));
  p.addCoord(coord(9, -9));
  p.computeExtents();
  EXPECT_EQ(boxOf(p), bitsOf(2, 3, 2, 3));
}

TEST(ShapeObjectTest, ComputeExtentsReplacesOnlyStrictlyBeyondAndReadsNothingAsOrigin) {
  // An equal value never replaces a bound, so -0 leaves +0 in place and the other way round.
  ShapeObject s;
  s.addCoord(coord(0.0, -0.0));
  s.addCoord(coord(-0.0, 0.0));
  s.computeExtents();
  EXPECT_EQ(boxOf(s), bitsOf(0.0, -0.0, 0.0, -0.0));
  // A Nothing entry counts as the origin.
  s.putref_Coordinates(makeRef<Collection>());
  for (const auto& c : {coord(5, 5), Ref<Coordinate>(), coord(7, 3)}) s.addCoord(c);
  s.computeExtents();
  EXPECT_EQ(boxOf(s), bitsOf(0, 0, 7, 5));
  // Entries that are no Coordinate, or no number, are type mismatches.
  s.get_Coordinates()->add(Variant(makeRef<BoundingBox>()));
  EXPECT_EQ(errorOf([&] { s.getCoord(4); }), 13);
  s.get_Parts()->add(Variant(makeRef<Coordinate>()));
  EXPECT_EQ(errorOf([&] { s.getPart(2); }), 13);
}

TEST(ShapeObjectTest, ComputeExtentsCountsVerticesInSixteenBits) {
  ShapeObject s;
  for (int i = 1; i <= 32766; ++i) s.addCoord(coord(i, -i));
  EXPECT_EQ(errorOf([&] { s.computeExtents(); }), 0);
  EXPECT_EQ(boxOf(s), bitsOf(1, -32766, 32766, -1));
  // The 32767th vertex still reaches the box before the counter overflows.
  s.addCoord(coord(1e6, -1e6));
  EXPECT_EQ(errorOf([&] { s.computeExtents(); }), 6);
  EXPECT_EQ(boxOf(s), bitsOf(1, -1e6, 1e6, -1));
  // Beyond that only the first vertex is set before the count itself overflows.
  s.addCoord(coord(2e6, -2e6));
  EXPECT_EQ(s.get_CoordinateCount(), 32768);
  EXPECT_EQ(errorOf([&] { s.computeExtents(); }), 6);
  EXPECT_EQ(boxOf(s), bitsOf(1, -1, 1, -1));
}

TEST(ShapeObjectTest, NullMembersRaiseObjectNotSet) {
  ShapeObject s;
  s.addCoord(coord(1, 1));
  s.put_BoundingBox(nullptr);
  EXPECT_EQ(errorOf([&] { s.computeExtents(); }), 91);
  s.putref_Coordinates(nullptr);
  s.putref_Parts(nullptr);
  EXPECT_EQ(s.get_Coordinates(), nullptr);
  EXPECT_EQ(errorOf([&] { s.get_CoordinateCount(); }), 91);
  EXPECT_EQ(errorOf([&] { s.addCoord(coord(1, 1)); }), 91);
  EXPECT_EQ(errorOf([&] { s.getCoord(1); }), 91);
  EXPECT_EQ(errorOf([&] { s.addPart(3); }), 91);
  EXPECT_EQ(errorOf([&] { s.getPart(1); }), 91);
}

}  // namespace
