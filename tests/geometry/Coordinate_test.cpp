#include "geometry/Coordinate.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>

#include "runtime/Ref.h"

namespace {

std::uint64_t bits(double d) {
  return std::bit_cast<std::uint64_t>(d);
}

TEST(CoordinateTest, StartsAtPositiveZeroAndKeepsExactBitsOfEachAxis) {
  auto c = kel::makeRef<kel::Coordinate>();
  EXPECT_EQ(bits(c->get_X()) | bits(c->get_Y()), 0u);
  for (double v : {-0.0, std::bit_cast<double>(0x7FF8'0000'0000'BEEFULL),
                   std::numeric_limits<double>::denorm_min(), -1e308}) {
    c->setCoordinate(v, 1.5);
    EXPECT_EQ(bits(c->get_X()), bits(v));
    EXPECT_EQ(c->get_Y(), 1.5);
    c->put_X(2.5);
    c->put_Y(v);
    EXPECT_EQ(c->get_X(), 2.5);
    EXPECT_EQ(bits(c->get_Y()), bits(v));
  }
}

}  // namespace
