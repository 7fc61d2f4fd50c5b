#include "runtime/Text.h"

#include <gtest/gtest.h>

using namespace kel;

TEST(Text, Utf8AndUtf16RoundTrip) {
  const std::pair<std::u16string_view, std::string_view> cases[] = {
      {u"", ""},
      {u"caf\u00E9", "caf\xC3\xA9"},
      {u"\u4E2D", "\xE4\xB8\xAD"},
      {u"\U0001F600!", "\xF0\x9F\x98\x80!"},  // a surrogate pair is one four-byte character
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
  };
  for (auto [utf16, utf8] : cases) {
    EXPECT_EQ(toUtf8(utf16), utf8);
    EXPECT_EQ(toUtf16(utf8), utf16);
  }
}

TEST(Text, IllFormedInputBecomesReplacementCharacter) {
  EXPECT_EQ(toUtf8(std::u16string{u'a', 0xD83D, u'b', 0xDE00}),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
  EXPECT_EQ(toUtf16("a\xFF"
                    "b\x80"),
            u"a\uFFFDb\uFFFD");
  // Overlong forms, encoded surrogates, code points past U+10FFFF, cut-off sequences.
  for (std::string_view bad :
       {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE4\xB8"}) {
    std::u16string out = toUtf16(bad);
    EXPECT_TRUE(!out.empty() && out.find_first_not_of(u'\uFFFD') == out.npos) << toUtf8(out);
  }
  EXPECT_EQ(toUtf16("\xE4\xB8"
                    "A")
                .back(),
            u'A');  // the cut-off sequence keeps the A
}

TEST(Text, UpperCaseAndCaseBlindComparison) {
  const std::pair<char16_t, char16_t> cases[] = {
      {u'a', u'A'},     {u'1', u'1'},     {0x00E9, 0x00C9}, {0x00FF, 0x0178}, {0x00F7, 0x00F7},
      {0x00DF, 0x00DF}, {0x00B5, 0x039C}, {0x0101, 0x0100}, {0x013A, 0x0139}, {0x017E, 0x017D},
      {0x03B1, 0x0391}, {0x03C2, 0x03A3}, {0x03CE, 0x038F}, {0x044F, 0x042F}, {0x0451, 0x0401},
  };
  for (auto [lower, upper] : cases) EXPECT_EQ(upperCase(lower), upper) << int(lower);
  EXPECT_EQ(upperCase(u"caf\u00E9 \u4E2D"), u"CAF\u00C9 \u4E2D");
  EXPECT_TRUE(equalsIgnoringCase(u"ROADS.shp", u"roads.SHP"));
  EXPECT_TRUE(equalsIgnoringCase(u"caf\u00E9\u00FF", u"CAF\u00C9\u0178"));
  EXPECT_FALSE(equalsIgnoringCase(u"roads", u"road"));
  EXPECT_FALSE(equalsIgnoringCase(u"roads", u"roadz"));
}
