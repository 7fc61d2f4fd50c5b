#include "runtime/LocalDate.h"

#include <gtest/gtest.h>

#include <ctime>
#include <tuple>

#include "runtime/Text.h"

using namespace kel;

TEST(LocalDate, TodayIsTheLocalCalendarDate) {
  auto clock = [] {
    std::time_t now = std::time(nullptr);
    std::tm t{};
    localtime_r(&now, &t);
    return std::tuple(t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
  };
  auto before = clock();
  LocalDate today = LocalDate::today();
  auto after = clock();
  // Midnight may pass between the readings; today then matches one of them.
  auto got = std::tuple(today.year, today.month, today.day);
  EXPECT_TRUE(got == before || got == after);
  EXPECT_EQ(toUtf8(today.yearText()), std::to_string(today.year));
  EXPECT_EQ((LocalDate{1999, 12, 31}.yearText()), u"1999");
}
