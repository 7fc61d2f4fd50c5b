#include "Output.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "runtime/Text.h"

namespace kelshp {

std::string number(double value) {
  if (!std::isfinite(value)) return "null";
  char buffer[32];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string jsonString(std::u16string_view text) {
  std::string utf8 = kel::toUtf8(text);
  std::string out = "\"";
  for (char c : utf8) {
    auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
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

}  // namespace kelshp
