#include "kel/runtime/CodePage.h"

#include <gtest/gtest.h>

using namespace kel;

TEST(CodePage, Windows1252RoundTripsEveryByteAndRefusesOtherCharacters) {
  EXPECT_EQ(ansiToText(std::string_view("A\x80\x8A\x92\x9F\xA0\xE9\xFF\0", 9)),
            std::u16string(u"A\u20AC\u0160\u2019\u0178\u00A0\u00E9\u00FF\0", 9));
  // The five bytes the code page leaves undefined stay themselves, to survive a rewrite.
  for (std::uint8_t b : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) EXPECT_EQ(ansiToChar(b), b);
  for (int b = 0; b < 256; ++b) EXPECT_EQ(ansiCodeOf(ansiToChar(std::uint8_t(b))), b);
  // U+0080 and U+009F are not the bytes 0x80 and 0x9F, which carry the euro sign and Y diaeresis.
  for (char16_t c : {u'\u0100', u'\u0080', u'\u009F', u'\u4E2D', u'\uFFFD'}) {
    EXPECT_GT(ansiCodeOf(c), 255) << int(c);
  }
}
