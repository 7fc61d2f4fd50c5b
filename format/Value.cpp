#include "kel/format/Value.h"

#include <charconv>
#include <cstring>

#include "kel/format/Endian.h"

namespace kel::format {

namespace {

// Whether one of the eight bytes of v is zero.
bool hasZeroByte(std::uint64_t v) {
  return ((v - 0x0101010101010101u) & ~v & 0x8080808080808080u) != 0;
}

// The field without the blanks around it, up to its first zero byte: every value passes here, so
// the zero byte is looked for eight bytes at a time.
std::string_view trimmed(std::string_view s) {
  const char* b = s.data();
  std::size_t n = 0;
  for (std::uint64_t word; n + 8 <= s.size(); n += 8) {
    std::memcpy(&word, b + n, 8);
    if (hasZeroByte(word)) break;
  }
  while (n < s.size() && b[n] != '\0') ++n;
  const char* e = b + n;
  while (b != e && *b == ' ') ++b;
  while (e != b && e[-1] == ' ') --e;
  return {b, static_cast<std::size_t>(e - b)};
}

void tell(std::string* odd, std::string sentence) {
  if (odd != nullptr) *odd = std::move(sentence);
}

bool isDigit(char c) {
  return static_cast<unsigned char>(c - '0') < 10;
}

// Powers of ten that a double holds exactly.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The common number of a table, an optional minus, digits, and an optional point and digits, with
// at most 15 digits in all (fewer than 2^53): the digits as an integer divided by a power of ten,
// both exact, which one correctly rounded division makes the very double that from_chars makes.
// False for any other form, which from_chars then reads.
bool plainDecimal(std::string_view s, double& out) {
  const char* p = s.data();
  const char* end = p + s.size();
  bool negative = p != end && *p == '-';
  p += negative;
  std::uint64_t digits = 0;
  int count = 0, fraction = 0;
  bool point = false;
  for (; p != end; ++p) {
    if (isDigit(*p)) {
      digits = digits * 10 + static_cast<std::uint64_t>(*p - '0');
      ++count;
      fraction += point;
    } else if (*p == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (count == 0 || count > 15) return false;
  double v = static_cast<double>(digits) / kExactPowers[fraction];
  out = negative ? -v : v;
  return true;
}

// An optional minus and 1 to 18 digits, which an int64_t always holds.
bool plainInteger(std::string_view s, std::int64_t& out) {
  const char* p = s.data();
  const char* end = p + s.size();
  bool negative = p != end && *p == '-';
  p += negative;
  if (p == end || end - p > 18) return false;
  std::int64_t v = 0;
  for (; p != end; ++p) {
    if (!isDigit(*p)) return false;
    v = v * 10 + (*p - '0');
  }
  out = negative ? -v : v;
  return true;
}

Value number(const FieldDescriptor& column, std::string_view bytes, std::string* odd) {
  std::string_view s = trimmed(bytes);
  if (s.empty() || (s.front() == '*' && s.find_first_not_of('*') == std::string_view::npos)) {
    return Null{};
  }
  std::string_view digits = s.front() == '+' ? s.substr(1) : s;
  const char* end = digits.data() + digits.size();
  if (holdsIntegers(column)) {
    std::int64_t i = 0;
    if (plainInteger(digits, i)) return i;
    auto [at, ec] = std::from_chars(digits.data(), end, i);
    if (ec == std::errc() && at == end) return i;
  }
  double d = 0;
  if (plainDecimal(digits, d)) return d;
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
  bool digits = s.size() == 8;
  for (std::size_t i = 0; digits && i < 8; ++i) digits = isDigit(s[i]);
  if (digits) {
    auto part = [&](std::size_t at, std::size_t n) {
      int v = 0;
      for (std::size_t i = at; i < at + n; ++i) v = v * 10 + (s[i] - '0');
      return v;
    };
    Date d{part(0, 4), part(4, 2), part(6, 2)};
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
  return ((column.type == ColumnType::Number || column.type == ColumnType::Float) &&
          column.decimals == 0 && column.width <= kIntegerDigits) ||
         (column.type == ColumnType::Integer && column.width == 4);
}

Value decodeValue(const FieldDescriptor& column, std::string_view bytes, Transcoder& transcoder,
                  std::string* odd) {
  std::optional<ColumnType> type = columnTypeOf(column.type);
  if (!type) return RawBytes{std::string(bytes)};
  switch (*type) {
    case ColumnType::Character:
    case ColumnType::Memo:
      return text(bytes, transcoder, odd);
    case ColumnType::Number:
    case ColumnType::Float:
      return number(column, bytes, odd);
    case ColumnType::Logical:
      return logical(bytes, odd);
    case ColumnType::Date:
      return date(bytes, odd);
    case ColumnType::Integer:
      if (bytes.size() == 4) {
        return std::int64_t{
            loadLE<std::int32_t>(reinterpret_cast<const unsigned char*>(bytes.data()))};
      }
      break;
  }
  return RawBytes{std::string(bytes)};
}

}  // namespace kel::format
