#include "kel/format/Encoding.h"

#include <memory>
#include <utility>

#include "kel/runtime/Text.h"

namespace kel::format {

namespace {

bool allDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

// The code pages a guess chooses among, in the order a tie takes them.
constexpr const char* kGuessed[] = {"CP1252", "CP850", "CP437"};

bool asciiLetter(unsigned char b) {
  return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}

// The text without a last UTF-8 sequence that the end cuts short.
std::string_view withoutCutSequence(std::string_view text) {
  for (std::size_t back = 1; back <= 3 && back <= text.size(); ++back) {
    auto b = static_cast<unsigned char>(text[text.size() - back]);
    if ((b & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    std::size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
    return length > back ? text.substr(0, text.size() - back) : text;
  }
  return text;
}

}  // namespace

CodePageGuess::CodePageGuess() : utf8_(Transcoder::open("UTF-8")) {
  for (std::size_t page = 0; page < kPages; ++page) {
    std::unique_ptr<Transcoder> t = Transcoder::open(kGuessed[page]);
    for (int b = 0x80; b < 0x100; ++b) {
      std::string one;
      if (t) t->toUtf8(std::string(1, static_cast<char>(b)), one);
      std::u16string u = toUtf16(one);
      char16_t c = u.size() == 1 ? u[0] : char16_t{0xFFFD};
      bool latin = (c >= 0xC0 && c < 0x250 && c != 0xD7 && c != 0xF7 && c != 0x192) || c == 0xAA ||
                   c == 0xBA || c == 0xB5;
      Kind& kind = kinds_[page][b - 0x80];
      if (c < 0xA0 || c == 0xFFFD) {
        kind = Kind::Control;
      } else if (c >= 0x2500 && c < 0x2600) {
        kind = Kind::Graphic;  // box drawing, blocks and shapes
      } else if (c == 0xA2 || c == 0xA3 || c == 0xA4 || c == 0xA5 || c == 0x20A7 || c == 0x20AC) {
        kind = Kind::Currency;
      } else if (c >= 0x370 && c < 0x400) {
        kind = Kind::OtherLetter;  // Greek: in DOS 437, among Latin text
      } else if (!latin) {
        kind = Kind::Mark;
      } else {
        bool lower = upperCase(c) != c || c == 0xDF || c == 0xAA || c == 0xBA || c == 0xB5;
        kind = lower ? Kind::Lower : Kind::Upper;
      }
    }
  }
}

void CodePageGuess::add(std::string_view text) {
  std::size_t n = text.size(), first = 0;
  while (first < n && static_cast<unsigned char>(text[first]) < 0x80) ++first;
  if (first == n) return;
  aboveAscii_ = true;
  if (utf8Valid_) {
    scratch_.clear();
    utf8Valid_ = utf8_->toUtf8(withoutCutSequence(text), scratch_) == 0;
  }
  auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  for (std::size_t page = 0; page < kPages; ++page) {
    const std::array<Kind, 128>& kinds = kinds_[page];
    auto letter = [&](std::size_t i) {
      unsigned char b = byteAt(i);
      return b < 0x80 ? asciiLetter(b)
                      : kinds[b - 0x80] == Kind::Upper || kinds[b - 0x80] == Kind::Lower;
    };
    auto lower = [&](std::size_t i) {
      unsigned char b = byteAt(i);
      return b < 0x80 ? b >= 'a' && b <= 'z' : kinds[b - 0x80] == Kind::Lower;
    };
    auto digit = [&](std::size_t i) { return byteAt(i) >= '0' && byteAt(i) <= '9'; };
    std::int64_t& score = scores_[page];
    for (std::size_t i = first; i < n; ++i) {
      unsigned char b = byteAt(i);
      if (b < 0x80) continue;
      bool before = i > 0 && letter(i - 1), after = i + 1 < n && letter(i + 1);
      switch (kinds[b - 0x80]) {
        case Kind::Upper:  // a capital inside a lower-case word is unlikely
          score += !before && !after ? 0 : before && lower(i - 1) ? -1 : 2;
          break;
        case Kind::Lower:
          score += before || after ? 2 : 0;
          break;
        case Kind::OtherLetter:
          score -= before || after ? 1 : 0;
          break;
        case Kind::Currency:
          score += (i > 0 && digit(i - 1)) || (i + 1 < n && digit(i + 1)) ? 1
                   : before && after                                      ? -2
                                                                          : 0;
          break;
        case Kind::Mark:
          score -= before && after ? 2 : 0;
          break;
        case Kind::Graphic:
          score -= 2;
          break;
        case Kind::Control:
          score -= 4;
          break;
      }
    }
  }
}

std::string CodePageGuess::encoding() const {
  if (!aboveAscii_) return {};
  if (utf8Valid_) return "UTF-8";
  std::size_t best = 0;
  for (std::size_t page = 1; page < kPages; ++page) {
    if (scores_[page] > scores_[best]) best = page;
  }
  return kGuessed[best];
}

std::string encodingOfCodePageFile(std::string_view text) {
  return encodingName(text);
}

bool extendsAscii(std::string_view encoding) {
  std::unique_ptr<Transcoder> t = Transcoder::open(encoding);
  if (!t) return false;
  std::string ascii, back;
  for (int c = 0; c < 0x80; ++c) ascii += static_cast<char>(c);
  return t->toUtf8(ascii, back) == 0 && back == ascii;
}

std::string encodingOfLanguageDriver(std::uint8_t mark) {
  static constexpr std::pair<std::uint8_t, int> kMarks[] = {
      {0x01, 437},  {0x02, 850},  {0x03, 1252}, {0x08, 865},  {0x09, 437},  {0x0A, 850},
      {0x0B, 437},  {0x0D, 437},  {0x0E, 850},  {0x0F, 437},  {0x10, 850},  {0x11, 437},
      {0x12, 850},  {0x13, 932},  {0x14, 850},  {0x15, 437},  {0x16, 850},  {0x17, 865},
      {0x18, 437},  {0x19, 437},  {0x1A, 850},  {0x1B, 437},  {0x1C, 863},  {0x1D, 850},
      {0x1F, 852},  {0x22, 852},  {0x23, 852},  {0x24, 860},  {0x25, 850},  {0x26, 866},
      {0x37, 850},  {0x40, 852},  {0x4D, 936},  {0x4E, 949},  {0x4F, 950},  {0x50, 874},
      {0x57, 1252}, {0x58, 1252}, {0x59, 1252}, {0x64, 852},  {0x65, 866},  {0x66, 865},
      {0x67, 861},  {0x6A, 737},  {0x6B, 857},  {0x6C, 863},  {0x78, 950},  {0x79, 949},
      {0x7A, 936},  {0x7B, 932},  {0x7C, 874},  {0x7D, 1255}, {0x7E, 1256}, {0x86, 737},
      {0x87, 852},  {0x88, 857},  {0xC8, 1250}, {0xC9, 1251}, {0xCA, 1254}, {0xCB, 1253},
      {0xCC, 1257},
  };
  for (auto [m, page] : kMarks) {
    if (m == mark) return "CP" + std::to_string(page);
  }
  return {};
}

std::string codePageFileWord(std::string_view encoding) {
  std::string_view digits;
  if (encoding.substr(0, 2) == "CP") digits = encoding.substr(2);
  if (encoding.substr(0, 9) == "ISO-8859-") digits = encoding.substr(9);
  if (!allDigits(digits)) return std::string(encoding);
  return (encoding[0] == 'I' ? "8859" : "") + std::string(digits);
}

std::uint8_t languageDriverOf(std::string_view encoding) {
  return encoding == "CP1252" ? 0x57 : 0;
}

}  // namespace kel::format
