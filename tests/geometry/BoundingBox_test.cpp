#include "geometry/BoundingBox.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <limits>

#include "runtime/Ref.h"

namespace {

using kel::BoundingBox;
using Bits = std::array<std::uint64_t, 4>;

Bits bitsOf(double a, double b, double c, double d) {
  return {std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(b),
          std::bit_cast<std::uint64_t>(c), std::bit_cast<std::uint64_t>(d)};
}

Bits boxOf(const BoundingBox& b) {
  return bitsOf(b.get_xMin(), b.get_yMin(), b.get_xMax(), b.get_yMax());
}

TEST(BoundingBoxTest, NewBoxIsPositiveZeroAndSetterTakesMinimumPairFirstUnchecked) {
  auto box = kel::makeRef<BoundingBox>();
  EXPECT_EQ(boxOf(*box), bitsOf(0.0, 0.0, 0.0, 0.0));
  box->setBoundingBox(5, 6, 1, 2);  // inverted, and stored as given
  EXPECT_EQ(boxOf(*box), bitsOf(5, 6, 1, 2));
}

// Signed zero, NaN payloads, denormals and the ends of the range are easily lost by a careless
// copy or comparison; every route into the box must keep their bits and touch only its own bound.
TEST(BoundingBoxTest, EveryRouteKeepsExactBitsOfItsOwnBound) {
  for (double v :
       {-0.0, std::bit_cast<double>(0x7FF8'0000'0000'1234ULL),
        std::bit_cast<double>(0xFFF8'DEAD'BEEF'0001ULL), std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::max(), -std::numeric_limits<double>::infinity()}) {
    auto box = kel::makeRef<BoundingBox>();
    box->setBoundingBox(v, 1, v, 2);
    EXPECT_EQ(boxOf(*box), bitsOf(v, 1, v, 2));
    box->setBoundingBox(1, v, 2, v);
    EXPECT_EQ(boxOf(*box), bitsOf(1, v, 2, v));
    box->setBoundingBox(1, 2, 3, 4);
    box->put_xMin(v);
    EXPECT_EQ(boxOf(*box), bitsOf(v, 2, 3, 4));
    box->put_yMin(v);
    EXPECT_EQ(boxOf(*box), bitsOf(v, v, 3, 4));
    box->put_xMax(v);
    EXPECT_EQ(boxOf(*box), bitsOf(v, v, v, 4));
    box->put_yMax(v);
    EXPECT_EQ(boxOf(*box), bitsOf(v, v, v, v));
  }
}

}  // namespace
