#include "kel/runtime/TextEncoder.h"

#include "kel/runtime/CodePage.h"
#include "kel/runtime/Transcoder.h"

namespace kel {

namespace {

// The length and code point of the well-formed UTF-8 sequence at i; length 0 when there is none
// (a stray continuation byte, a sequence cut short, an overlong form, a surrogate, a code point
// beyond U+10FFFF).
std::size_t sequenceAt(std::string_view s, std::size_t i, char32_t& cp) {
  auto at = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char b = at(i);
  if (b < 0x80) {
    cp = b;
    return 1;
  }
  std::size_t length = b >= 0xC2 && b <= 0xDF   ? 2
                       : b >= 0xE0 && b <= 0xEF ? 3
                       : b >= 0xF0 && b <= 0xF4 ? 4
                                                : 0;
  if (length == 0 || i + length > s.size()) return 0;
  cp = b & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((at(i + k) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (at(i + k) & 0x3F);
  }
  unsigned char second = at(i + 1);
  if ((b == 0xE0 && second < 0xA0) || (b == 0xED && second > 0x9F) ||
      (b == 0xF0 && second < 0x90) || (b == 0xF4 && second > 0x8F)) {
    return 0;
  }
  return length;
}

class Windows1252 final : public TextEncoder {
 public:
  Windows1252() noexcept { asciiIsItself_ = true; }

 protected:
  bool encodeOne(char32_t cp, std::string_view, std::string& out) override {
    if (cp > 0xFFFF) return false;
    std::int32_t code = ansiCodeOf(static_cast<char16_t>(cp));
    if (code > 0xFF) return false;
    out += static_cast<char>(code);
    return true;
  }
};

class Utf8 final : public TextEncoder {
 public:
  Utf8() noexcept { asciiIsItself_ = true; }

 protected:
  bool encodeOne(char32_t, std::string_view sequence, std::string& out) override {
    out.append(sequence);
    return true;
  }
};

}  // namespace

std::unique_ptr<TextEncoder> TextEncoder::open(std::string_view encoding) {
  std::string name = encodingName(encoding);
  if (name == "UTF-8") return std::make_unique<Utf8>();
  if (name == "CP1252") return std::make_unique<Windows1252>();
  if (name.empty() || name.find('\0') != std::string::npos) return nullptr;
  return openSystem(name);
}

TextEncoder::Result TextEncoder::encode(std::string_view utf8, std::string& out,
                                        std::size_t limit) {
  const std::size_t start = out.size();
  auto room = [&] { return limit == npos ? npos : limit - (out.size() - start); };
  std::size_t i = 0;
  while (i < utf8.size()) {
    if (asciiIsItself_) {
      std::size_t run = 0;
      while (i + run < utf8.size() && static_cast<unsigned char>(utf8[i + run]) < 0x80) ++run;
      std::size_t fits = run < room() ? run : room();
      out.append(utf8.substr(i, fits));
      i += fits;
      if (fits < run) return {Stop::Full, i};
      if (i == utf8.size()) break;
    }
    char32_t cp = 0;
    std::size_t length = sequenceAt(utf8, i, cp);
    if (length == 0) return {Stop::IllFormed, i};
    std::size_t before = out.size();
    if (!encodeOne(cp, utf8.substr(i, length), out)) {
      out.resize(before);
      return {Stop::NoSuchCharacter, i};
    }
    if (limit != npos && out.size() - start > limit) {
      out.resize(before);
      return {Stop::Full, i};
    }
    i += length;
  }
  return {Stop::End, i};
}

}  // namespace kel
