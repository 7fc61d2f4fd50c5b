#include "kel/runtime/CodePage.h"

namespace kel {

namespace {

// Bytes 0x80 to 0x9F; every other byte is the character of the same number.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

constexpr std::int32_t kNoCode = 0x10000;

}  // namespace

char16_t ansiToChar(std::uint8_t byte) noexcept {
  return byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80] : char16_t(byte);
}

std::u16string ansiToText(std::string_view bytes) {
  std::u16string text(bytes.size(), u'\0');
  ansiToText(bytes, text.data());
  return text;
}

void ansiToText(std::string_view bytes, char16_t* out) noexcept {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out[i] = ansiToChar(static_cast<std::uint8_t>(bytes[i]));
  }
}

std::int32_t ansiCodeOf(char16_t c) noexcept {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  for (int i = 0; i < 32; ++i) {
    if (kHighControls[i] == c) return 0x80 + i;
  }
  return kNoCode + c;
}

}  // namespace kel
