#include "kel/runtime/Text.h"

#include <cstdint>

namespace kel {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

bool isHigh(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool isLow(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

}  // namespace

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string toUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (isHigh(c) && i + 1 < text.size() && isLow(text[i + 1])) {
      appendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
      ++i;
    } else if (isHigh(c) || isLow(c)) {
      appendUtf8(out, kReplacement);
    } else {
      appendUtf8(out, c);
    }
  }
  return out;
}

std::u16string toUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  auto byteAt = [&](std::size_t k) { return static_cast<std::uint8_t>(utf8[k]); };
  // Most text is ASCII from end to end: it goes over in one plain loop.
  std::size_t i = 0;
  while (i < utf8.size() && byteAt(i) < 0x80) ++i;
  out.resize(i);
  for (std::size_t k = 0; k < i; ++k) out[k] = static_cast<char16_t>(byteAt(k));
  while (i < utf8.size()) {
    std::uint8_t lead = byteAt(i);
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    int extra = 0;
    char32_t smallest = 0;  // below it the sequence is an overlong form
    if (lead >= 0xC2 && lead <= 0xDF) {
      extra = 1, smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      extra = 2, smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      extra = 3, smallest = 0x10000;
    } else {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    char32_t cp = lead & (0x3F >> extra);
    int k = 1;
    for (; k <= extra && i + k < utf8.size() && (byteAt(i + k) & 0xC0) == 0x80; ++k) {
      cp = (cp << 6) | (byteAt(i + k) & 0x3F);
    }
    if (k <= extra || cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    appendUtf16(out, cp);
    i += static_cast<std::size_t>(extra) + 1;
  }
  return out;
}

std::string asciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string asciiLower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

char16_t upperCase(char16_t c) noexcept {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 0x20) : c;
  if (c < 0x100) {
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 0x20);
    if (c == 0xFF) return 0x178;
    if (c == 0xB5) return 0x39C;
    return c;
  }
  if (c <= 0x17F) {
    // Latin Extended-A pairs upper and lower case letters, the upper one first, with the pairing
    // shifted by one between U+0139 and U+0148 and again from U+0179.
    if (c == 0x131) return u'I';
    if (c == 0x17F) return u'S';
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
      return (c & 1) == 0 ? char16_t(c - 1) : c;
    }
    if (c == 0x138 || c == 0x149 || c == 0x178) return c;
    return (c & 1) == 1 ? char16_t(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return char16_t(c - 0x20);
  if (c == 0x3C2) return 0x3A3;
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return char16_t(c - 0x25);
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return char16_t(c - 0x3F);
  if (c >= 0x430 && c <= 0x44F) return char16_t(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return char16_t(c - 0x50);
  if (c >= 0xFF41 && c <= 0xFF5A) return char16_t(c - 0x20);
  return c;
}

std::u16string upperCase(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& c : out) c = upperCase(c);
  return out;
}

bool equalsIgnoringCase(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && upperCase(a[i]) != upperCase(b[i])) return false;
  }
  return true;
}

}  // namespace kel
