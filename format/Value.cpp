#include "format/Value.h"

#include <charconv>

#include "format/Endian.h"

namespace kel::format {

namespace {

std::string_view trimmed(std::string_view s) {
  std::size_t nul = s.find('\0');
  if (nul != std::string_view::npos) s = s.substr(0, nul);
  std::size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

void tell(std::string* odd, std::string sentence) {
  if (odd != nullptr) *odd = std::move(sentence);
}

Value number(const FieldDescriptor& column, std::string_view bytes, std::string* odd) {
  std::string_view s = trimmed(bytes);
  if (s.empty() || s.find_first_not_of('*') == std::string_view::npos) return Null{};
  std::string_view digits = s.front() == '+' ? s.substr(1) : s;
  const char* end = digits.data() + digits.size();
  if (holdsIntegers(column)) {
    std::int64_t i = 0;
    auto [at, ec] = std::from_chars(digits.data(), end, i);
    if (ec == std::errc() && at == end) return i;
  }
  double d = 0;
  auto [at, ec] = std::from_chars(digits.data(), end, d);
  if (ec == std::errc() && at == end) return d;
  tell(odd, "'" + std::string(s) + "' is no number");
  return Null{};
}

Value logical(std::string_view bytes, std::string* odd) {
  std::string_view s = trimmed(bytes);
  if (s.empty() || s == "?") return Null{};
  if (s.size() == 1) {
    switch (s[0]) {
      case 'T':
      case 't':
      case 'Y':
      case 'y':
        return true;
      case 'F':
      case 'f':
      case 'N':
      case 'n':
        return false;
    }
  }
  tell(odd, "'" + std::string(s) + "' is no logical value");
  return Null{};
}

Value date(std::string_view bytes, std::string* odd) {
  std::string_view s = trimmed(bytes);
  if (s.empty() || s == "00000000") return Null{};
  Date d;
  bool digits = s.size() == 8 && s.find_first_not_of("0123456789") == std::string_view::npos;
  if (digits) {
    auto part = [&](std::size_t at, std::size_t n) {
      int v = 0;
      std::from_chars(s.data() + at, s.data() + at + n, v);
      return v;
    };
    d = {part(0, 4), part(4, 2), part(6, 2)};
    if (d.month >= 1 && d.month <= 12 && d.day >= 1 && d.day <= 31) return d;
  }
  tell(odd, "'" + std::string(s) + "' is no date of the form YYYYMMDD");
  return Null{};
}

Value text(std::string_view bytes, Transcoder& transcoder, std::string* odd) {
  std::string_view s = trimmed(bytes);
  if (s.empty()) return Null{};
  std::string out;
  std::size_t bad = transcoder.toUtf8(s, out);
  if (bad > 0) tell(odd, std::to_string(bad) + " bytes are no characters of the table's encoding");
  return out;
}

}  // namespace

// An F column is typed as an N column is: the two letters differ in name only, writers use them
// alike, and GDAL reads an F column without decimals as integers too.
bool holdsIntegers(const FieldDescriptor& column) noexcept {
  return ((column.type == 'N' || column.type == 'F') && column.decimals == 0 &&
          column.width <= 18) ||
         (column.type == 'I' && column.width == 4);
}

Value decodeValue(const FieldDescriptor& column, std::string_view bytes, Transcoder& transcoder,
                  std::string* odd) {
  switch (column.type) {
    case 'C':
    case 'M':
      return text(bytes, transcoder, odd);
    case 'N':
    case 'F':
      return number(column, bytes, odd);
    case 'L':
      return logical(bytes, odd);
    case 'D':
      return date(bytes, odd);
    case 'I':
      if (bytes.size() == 4) {
        return std::int64_t{
            loadLE<std::int32_t>(reinterpret_cast<const unsigned char*>(bytes.data()))};
      }
      break;
  }
  return RawBytes{std::string(bytes)};
}

}  // namespace kel::format
