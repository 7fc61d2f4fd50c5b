// Checked numbers, text folding and channel numbering: the small runtime services that the
// object model and the drivers lean on everywhere.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "kel/runtime/ChannelTable.h"
#include "kel/runtime/Checked.h"
#include "kel/runtime/Error.h"
#include "kel/runtime/Text.h"
#include "support/ErrorOf.h"
#include "support/TempDir.h"

namespace kel {
namespace {

using testing::errorOf;

TEST(Checked, RoundsHalfToEvenAndRefusesWhatDoesNotFit) {
  // Rounding half to even is Variant_test's, through the conversions that use it.
  EXPECT_EQ(toInt16(32767.4), 32767);
  EXPECT_EQ(errorOf([] { toInt16(std::int64_t{-32769}); }), 6);
  EXPECT_EQ(toUInt8(std::int64_t{255}), 255);
  EXPECT_EQ(errorOf([] { toUInt8(std::int64_t{256}); }), 6);
  EXPECT_EQ(errorOf([] { toInt32(std::nan("")); }), 6);
  EXPECT_EQ(errorOf([] { add16(32767, 1); }), 6);
  EXPECT_EQ(errorOf([] { mul32(65536, 32768); }), 6);
  EXPECT_EQ(sub32(std::numeric_limits<std::int32_t>::min() + 1, 1),
            std::numeric_limits<std::int32_t>::min());
}

TEST(Checked, TheSixteenBitLoopRunsItsLastPassThenOverflows) {
  int passes = 0;
  EXPECT_EQ(errorOf([&] { loop16(32760, 32767, [&](std::int16_t) { ++passes; }); }), 6);
  EXPECT_EQ(passes, 8);
  EXPECT_TRUE(loop16(1, 32766, [](std::int16_t) {}));
  EXPECT_FALSE(loop16(1, 5, [](std::int16_t i) { return i < 3; }));
}

TEST(Text, FoldsLetterCaseBeyondAsciiAndSurvivesBadInput) {
  EXPECT_TRUE(equalsIgnoringCase(u"Straße Ÿ Ωμέγα Жук", u"STRAßE ÿ ΩΜΈΓΑ жУК"));
  EXPECT_FALSE(equalsIgnoringCase(u"roads", u"road"));
  std::u16string mixed = u"é\U0001F600x";
  EXPECT_EQ(toUtf16(toUtf8(mixed)), mixed);
  EXPECT_EQ(toUtf16(toUtf8(u"roads " + mixed)), u"roads " + mixed);
  EXPECT_EQ(toUtf16("plain ASCII"), u"plain ASCII");
  EXPECT_EQ(toUtf16("a\xFF"
                    "b"),
            u"a\uFFFDb");
  EXPECT_EQ(toUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Error, CarriesTheAutomationNumberSourceAndDescription) {
  for (auto [number, description] :
       {std::pair{ErrorNumber::Overflow, u"Overflow"},
        {ErrorNumber::SubscriptOutOfRange, u"Subscript out of range"},
        {ErrorNumber::ObjectVariableNotSet, u"Object variable or With block variable not set"}}) {
    const Error e(number);
    EXPECT_EQ(std::tuple(e.number(), e.source(), e.description()),
              std::tuple(static_cast<std::int32_t>(number), u"kelShapeLib", description));
  }
  EXPECT_STREQ(Error(ErrorNumber::Overflow).what(), "Overflow (error 6)");
}

TEST(ChannelTable, NumbersChannelsAndRefusesMisuse) {
  testing::TempDir dir;
  ChannelTable channels;
  std::int16_t first = channels.freeFile();
  channels.open(first, dir.win("a.bin"));
  EXPECT_NE(channels.freeFile(), first);
  EXPECT_EQ(errorOf([&] { channels.open(first, dir.win("b.bin")); }), 55);
  EXPECT_EQ(errorOf([&] { channels.open(512, dir.win("b.bin")); }), 52);
  EXPECT_EQ(errorOf([&] { channels.seek(first, 0); }), 63);
  channels.close(first);
  EXPECT_EQ(errorOf([&] { channels.channel(first); }), 52);
  channels.close(first);  // closing a closed channel is no error
  EXPECT_EQ(channels.freeFile(), first);
}

}  // namespace
}  // namespace kel
