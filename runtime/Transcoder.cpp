#include "kel/runtime/Transcoder.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

#include "kel/runtime/CodePage.h"
#include "kel/runtime/Text.h"

namespace kel {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The ASCII run at the front of bytes, which every supported encoding reads as itself; eight
// bytes at a time, as every text of a table passes here.
std::size_t asciiPrefix(std::string_view bytes) {
  std::size_t i = 0;
  for (std::uint64_t word; i + 8 <= bytes.size(); i += 8) {
    std::memcpy(&word, bytes.data() + i, 8);
    if ((word & 0x8080808080808080u) != 0) break;
  }
  while (i < bytes.size() && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  return i;
}

class Windows1252 final : public Transcoder {
 public:
  std::size_t toUtf8(std::string_view bytes, std::string& out) override {
    std::size_t ascii = asciiPrefix(bytes);
    out.append(bytes.substr(0, ascii));
    for (std::size_t i = ascii; i < bytes.size(); ++i) {
      appendUtf8(out, ansiToChar(static_cast<std::uint8_t>(bytes[i])));
    }
    return 0;
  }
};

// Checks UTF-8 rather than converting it: well-formed sequences pass as they are.
class Utf8 final : public Transcoder {
 public:
  std::size_t toUtf8(std::string_view bytes, std::string& out) override {
    std::size_t bad = 0;
    std::size_t i = 0;
    while (i < bytes.size()) {
      std::size_t ascii = asciiPrefix(bytes.substr(i));
      out.append(bytes.substr(i, ascii));
      i += ascii;
      if (i == bytes.size()) break;
      std::size_t length = sequenceAt(bytes, i);
      if (length == 0) {
        appendUtf8(out, kReplacement);
        ++bad;
        ++i;
      } else {
        out.append(bytes.substr(i, length));
        i += length;
      }
    }
    return bad;
  }

 private:
  // The length of the well-formed sequence at i, or 0 when there is none.
  static std::size_t sequenceAt(std::string_view s, std::size_t i) {
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char b = at(i);
    std::size_t length = b >= 0xC2 && b <= 0xDF   ? 2
                         : b >= 0xE0 && b <= 0xEF ? 3
                         : b >= 0xF0 && b <= 0xF4 ? 4
                                                  : 0;
    if (length == 0 || i + length > s.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
      if ((at(i + k) & 0xC0) != 0x80) return 0;
    }
    unsigned char second = at(i + 1);
    if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F) ||
        (b == 0xF0 && second < 0x90) || (b == 0xF4 && second > 0x8F)) {
      return 0;  // an overlong form, a surrogate, or beyond U+10FFFF
    }
    return length;
  }
};

bool allDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// The code page of a number as .cpg files write it: 1252, 65001 (UTF-8), 88591 (ISO 8859-1).
std::string ofNumber(std::string_view digits) {
  if (digits == "65001") return "UTF-8";
  if (digits.size() >= 5 && digits.substr(0, 4) == "8859") {
    return "ISO-8859-" + std::string(digits.substr(4));
  }
  return "CP" + std::string(digits);
}

}  // namespace

std::string encodingName(std::string_view text) {
  std::string word;
  for (char c : text) {
    if (!std::isspace(static_cast<unsigned char>(c)) || !word.empty()) {
      word += c;
    }
  }
  while (!word.empty() && std::isspace(static_cast<unsigned char>(word.back()))) word.pop_back();
  word = asciiUpper(word);
  if (word.empty()) return {};
  if (word == "UTF-8" || word == "UTF8") return "UTF-8";
  if (allDigits(word)) return ofNumber(word);
  for (std::string_view prefix : {"ANSI ", "OEM ", "CP", "WINDOWS-"}) {
    if (word.size() > prefix.size() && word.compare(0, prefix.size(), prefix) == 0 &&
        allDigits(std::string_view(word).substr(prefix.size()))) {
      return ofNumber(std::string_view(word).substr(prefix.size()));
    }
  }
  if (word.compare(0, 4, "8859") == 0) return "ISO-8859-" + word.substr(word.find('-') + 1);
  if (word.compare(0, 8, "ISO8859-") == 0) return "ISO-8859-" + word.substr(8);
  return word;
}

std::unique_ptr<Transcoder> Transcoder::open(std::string_view encoding) {
  std::string name = encodingName(encoding);
  if (name == "UTF-8") return std::make_unique<Utf8>();
  if (name == "CP1252") return std::make_unique<Windows1252>();
  if (name.empty() || name.find('\0') != std::string::npos) return nullptr;
  return openSystem(name);
}

}  // namespace kel
