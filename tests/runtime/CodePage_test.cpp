#include "runtime/CodePage.h"

#include <gtest/gtest.h>

using namespace kel;

TEST(CodePage, BytesReadAsWindows1252) {
  // The five bytes the code page leaves undefined stay themselves, to survive a rewrite.
  const std::pair<std::uint8_t, char16_t> cases[] = {
      {0x41, u'A'},   {0x80, 0x20AC}, {0x8A, 0x0160}, {0x92, 0x2019}, {0x9F, 0x0178},
      {0xA0, 0x00A0}, {0xE9, 0x00E9}, {0xFF, 0x00FF}, {0x81, 0x0081}, {0x8D, 0x008D},
      {0x8F, 0x008F}, {0x90, 0x0090}, {0x9D, 0x009D}};
  for (auto [byte, c] : cases) EXPECT_EQ(ansiToChar(byte), c) << int(byte);
  EXPECT_EQ(ansiToText(std::string_view("\x80\xE9\0", 3)), std::u16string(u"\u20AC\u00E9\0", 3));
}

TEST(CodePage, EveryByteRoundTripsAndOtherCharactersHaveNoByte) {
  for (int b = 0; b < 256; ++b) EXPECT_EQ(ansiCodeOf(ansiToChar(std::uint8_t(b))), b);
  // U+0080 and U+009F are not the bytes 0x80 and 0x9F, which carry the euro sign and Y diaeresis.
  for (char16_t c : {u'\u0100', u'\u0080', u'\u009F', u'\u4E2D', u'\uFFFD'}) {
    EXPECT_GT(ansiCodeOf(c), 255) << int(c);
  }
}
