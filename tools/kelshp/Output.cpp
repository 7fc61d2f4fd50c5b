#include "Output.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "kel/runtime/Text.h"

namespace kelshp {

std::string number(double value) {
  if (!std::isfinite(value)) return "null";
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

namespace {

bool isControl(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// The length of the well-formed UTF-8 sequence at text[i], and its code point; 0 when the byte
// there starts none.
std::size_t sequenceAt(std::string_view text, std::size_t i, char32_t& code) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char lead = byte(i);
  std::size_t n = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    n = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    n = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    n = 4;
  }
  if (n == 0 || i + n > text.size()) return 0;
  code = lead & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
  constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  bool wellFormed = code >= kSmallest[n] && (code < 0xD800 || code > 0xDFFF) && code <= 0x10FFFF;
  return wellFormed ? n : 0;
}

}  // namespace

std::string jsonString(std::u16string_view text) {
  std::string utf8 = kel::toUtf8(text);  // well-formed: an unpaired surrogate is U+FFFD
  std::string out = "\"";
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t code = 0;
    std::size_t n = std::max<std::size_t>(sequenceAt(utf8, i, code), 1);
    if (code == U'"' || code == U'\\') {
      out += '\\';
      out += static_cast<char>(code);
    } else if (isControl(code)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
      out += escape;
    } else {
      out.append(utf8, i, n);
    }
    i += n;
  }
  return out + "\"";
}

std::string visible(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    char32_t code = 0;
    std::size_t n = sequenceAt(utf8, i, code);
    char escape[16];
    if (n == 0) {
      std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(utf8[i]));
      out += escape;
      n = 1;
    } else if (isControl(code)) {
      std::snprintf(escape, sizeof escape, "\\u{%02x}", static_cast<unsigned>(code));
      out += escape;
    } else if (code == U'\\') {
      out += "\\\\";
    } else {
      out.append(utf8.substr(i, n));
    }
    i += n;
  }
  return out;
}

std::string xmlEscaped(std::string_view utf8) {
  std::string out;
  for (char c : utf8) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        // XML 1.0 has no place for the other control characters, which raw table bytes can hold.
        out += (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') ? '?' : c;
    }
  }
  return out;
}

void WholeFile::flush() {
  file_.write(member_, written_, buffer_.data(), buffer_.size());
  written_ += static_cast<std::int64_t>(buffer_.size());
  buffer_.clear();
}

}  // namespace kelshp
