#include "kel/format/Encoding.h"

#include <memory>
#include <utility>

#include "kel/runtime/Transcoder.h"

namespace kel::format {

namespace {

bool allDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

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
