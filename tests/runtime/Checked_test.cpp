#include "runtime/Checked.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "TestSupport.h"

using namespace kel;
using test::errorOf;

TEST(Checked, DoublesRoundHalfToEven) {
  const std::pair<double, int> cases[] = {{2.5, 2},   {3.5, 4},    {-2.5, -2},
                                          {-3.5, -4}, {2.5001, 3}, {-32768.5, -32768}};
  for (auto [in, out] : cases) {
    EXPECT_EQ(toInt16(in), out) << in;
    EXPECT_EQ(toInt32(in), out) << in;
  }
  EXPECT_EQ(toUInt8(254.5), 254);
}

TEST(Checked, NarrowingAndArithmeticOverflowInsteadOfWrapping) {
  const double nan = std::nan("");
  for (double v : {32767.5, -32769.0, nan, HUGE_VAL}) EXPECT_EQ(errorOf([&] { toInt16(v); }), 6);
  for (double v : {255.5, -0.6, nan}) EXPECT_EQ(errorOf([&] { toUInt8(v); }), 6) << v;
  for (double v : {2147483647.5, nan}) EXPECT_EQ(errorOf([&] { toInt32(v); }), 6) << v;
  EXPECT_EQ(toInt16(std::int64_t{-32768}), -32768);
  EXPECT_EQ(errorOf([] { toInt16(std::int64_t{32768}); }), 6);
  EXPECT_EQ(errorOf([] { toUInt8(std::int64_t{-1}); }), 6);
  EXPECT_EQ(errorOf([] { toInt32(std::int64_t{1} << 31); }), 6);
  EXPECT_EQ(mul16(-256, 128), -32768);
  EXPECT_EQ(errorOf([] { add16(32767, 1); }), 6);
  EXPECT_EQ(errorOf([] { sub16(-32768, 1); }), 6);
  EXPECT_EQ(errorOf([] { mul16(256, 128); }), 6);
  EXPECT_EQ(errorOf([] { add32(INT32_MAX, 1); }), 6);
  EXPECT_EQ(errorOf([] { sub32(INT32_MIN, 1); }), 6);
  EXPECT_EQ(errorOf([] { mul32(65536, 32768); }), 6);
}

TEST(Checked, Loop16RunsInclusiveAndCannotStepPastTheTop) {
  std::vector<std::int16_t> seen;
  auto record = [&](std::int16_t i) { seen.push_back(i); };
  EXPECT_TRUE(loop16(3, 4, record));
  EXPECT_TRUE(loop16(5, 4, record));
  // The pass for 32767 runs; stepping the counter after it overflows.
  EXPECT_EQ(errorOf([&] { loop16(32766, 32767, record); }), 6);
  auto untilTwo = [&](std::int16_t i) { return record(i), i < 2; };
  EXPECT_FALSE(loop16(1, 32767, untilTwo));
  EXPECT_EQ(seen, (std::vector<std::int16_t>{3, 4, 32766, 32767, 1, 2}));
  EXPECT_FALSE(loop16(32767, 32767, [](std::int16_t) { return false; }));
}
