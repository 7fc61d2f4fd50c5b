#include "kel/format/FieldWriting.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace kel::format {

namespace {

constexpr std::size_t kShownText = 40;  // characters of a text value that a sentence quotes

// The writer takes only C, N, F, L and D columns, all of which have a name.
std::string typeName(std::uint8_t type) {
  return std::string(columnTypeName(type));
}

const char* kindOf(const Value& v) {
  static const char* const kKinds[] = {"null",   "an integer", "a number", "a logical value",
                                       "a date", "text",       "raw bytes"};
  return kKinds[v.index()];
}

std::string shortest(double d) {
  char buffer[32];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, d).ptr);
}

int daysIn(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// The number's digits at the column's decimals; none for a number that has none (NaN, infinity).
std::optional<std::string> digits(const Value& value, int decimals) {
  char buffer[640];  // the longest double in fixed notation, with 252 decimals
  char* end;
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    end = std::to_chars(buffer, buffer + sizeof buffer, *i).ptr;
    if (decimals > 0) {
      *end++ = '.';
      for (int k = 0; k < decimals; ++k) *end++ = '0';
    }
  } else {
    double d = std::get<double>(value);
    if (!std::isfinite(d)) return std::nullopt;
    end = std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::fixed, decimals).ptr;
  }
  return std::string(buffer, end);
}

// The number in exponent form with the fewest significant digits that read back as the number its
// digits at the column's decimals (`fixed`) stand for: the very double for a double, the integer
// itself for an integer; none for an integer that no double holds.
std::optional<std::string> exponentForm(const Value& value, const std::string& fixed) {
  double d = 0;
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    d = static_cast<double>(*i);
    if (!(d < 0x1p63) || static_cast<std::int64_t>(d) != *i) return std::nullopt;
  } else {
    std::from_chars(fixed.data(), fixed.data() + fixed.size(), d);
  }
  char buffer[32];
  return std::string(
      buffer, std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::scientific).ptr);
}

std::string codePoint(std::string_view utf8, std::size_t at) {
  std::size_t length = 1;
  while (at + length < utf8.size() &&
         (static_cast<unsigned char>(utf8[at + length]) & 0xC0) == 0x80)
    ++length;
  std::string out = "'" + std::string(utf8.substr(at, length)) + "'";
  return out;
}

std::optional<std::string> text(const FieldDescriptor& column, const std::string& s,
                                TextEncoder& encoder, bool cut, std::string& field) {
  if (s.find('\0') != std::string::npos) {
    return "the text " + shown(s) + " holds a NUL character, which ends the text for most readers";
  }
  std::string bytes;
  TextEncoder::Result r = encoder.encode(s, bytes, column.width);
  if (r.stop == TextEncoder::Stop::Full && !cut) {
    std::string whole;
    TextEncoder::Result all = encoder.encode(s, whole);
    if (all.stop == TextEncoder::Stop::End) {
      return "the text " + shown(s) + " takes " + std::to_string(whole.size()) +
             " bytes; the column holds " + std::to_string(column.width);
    }
    r = all;
  }
  if (r.stop == TextEncoder::Stop::IllFormed) {
    return "the text " + shown(s) + " is no well-formed UTF-8 at byte " + std::to_string(r.at);
  }
  if (r.stop == TextEncoder::Stop::NoSuchCharacter) {
    return "the text " + shown(s) + " holds " + codePoint(s, r.at) +
           ", which the table's encoding cannot hold";
  }
  field.assign(bytes);
  field.resize(column.width, ' ');
  return std::nullopt;
}

}  // namespace

bool isNull(const Value& value) noexcept {
  return std::holds_alternative<Null>(value);
}

std::optional<double> asDouble(const Value& value) noexcept {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&value)) return *d;
  return std::nullopt;
}

std::optional<std::int64_t> asInteger(const Value& value) noexcept {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
  const auto* d = std::get_if<double>(&value);
  // -2^63 is the least int64_t; 2^63 is one past the greatest.
  if (d == nullptr || !(*d >= -0x1p63 && *d < 0x1p63) || std::trunc(*d) != *d) return std::nullopt;
  return static_cast<std::int64_t>(*d);
}

std::string asText(const Value& value) {
  if (const auto* s = std::get_if<std::string>(&value)) return *s;
  if (const auto* raw = std::get_if<RawBytes>(&value)) return raw->bytes;
  if (isNull(value)) return {};
  return shown(value);
}

std::string shown(const Value& value) {
  struct {
    std::string operator()(Null) const { return "null"; }
    std::string operator()(std::int64_t i) const { return std::to_string(i); }
    std::string operator()(double d) const { return shortest(d); }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(const Date& d) const {
      char buffer[48];
      std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", d.year, d.month, d.day);
      return buffer;
    }
    std::string operator()(const std::string& s) const {
      std::size_t end = 0, chars = 0;
      while (end < s.size() && chars < kShownText) {
        ++chars;
        ++end;
        while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) ++end;
      }
      // Control characters as \xNN: a NUL would end the sentence for a C caller.
      std::string out = "'";
      for (char c : std::string_view(s).substr(0, end)) {
        auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b != 0x7F) {
          out += c;
        } else {
          static const char kHex[] = "0123456789ABCDEF";
          out += {'\\', 'x', kHex[b >> 4], kHex[b & 15]};
        }
      }
      return out + (end < s.size() ? "...'" : "'");
    }
    std::string operator()(const RawBytes& r) const {
      return std::to_string(r.bytes.size()) + " raw bytes";
    }
  } visit;
  return std::visit(visit, value);
}

std::optional<std::string> unwritableColumn(const FieldDescriptor& c) {
  std::string type = std::string(1, static_cast<char>(c.type));
  if (std::string_view("CNFLD").find(static_cast<char>(c.type)) == std::string_view::npos ||
      c.type == 0) {
    return "the type letter '" + type + "' is none of C, N, F, L and D";
  }
  std::string width = std::to_string(c.width);
  if (c.width == 0 || c.width > kMaxWidth) {
    return "the width " + width + " is not 1 to " + std::to_string(kMaxWidth);
  }
  if (c.type == ColumnType::Logical && c.width != 1) {
    return "a Logical column is 1 wide, not " + width;
  }
  if (c.type == ColumnType::Date && c.width != 8) return "a Date column is 8 wide, not " + width;
  bool number = c.type == ColumnType::Number || c.type == ColumnType::Float;
  if (!number && c.decimals != 0) return "a " + typeName(c.type) + " column has no decimals";
  if (number && c.decimals > 0 && c.decimals + 2 > c.width) {
    return std::to_string(c.decimals) + " decimals leave no room for a digit and the point in " +
           width;
  }
  return std::nullopt;
}

std::optional<std::string> encodeField(const FieldDescriptor& column, const Value& value,
                                       TextEncoder& encoder, bool cut, std::string& field) {
  const std::size_t width = column.width;
  if (std::holds_alternative<Null>(value)) {
    field.assign(width, column.type == ColumnType::Logical ? '?' : ' ');
    return std::nullopt;
  }
  auto mismatch = [&] {
    return std::string(kindOf(value)) + " (" + shown(value) + ") cannot go into a " +
           typeName(column.type) + " column";
  };
  std::optional<ColumnType> type = columnTypeOf(column.type);
  if (!type) return mismatch();
  switch (*type) {
    case ColumnType::Character:
      if (const auto* s = std::get_if<std::string>(&value)) {
        return text(column, *s, encoder, cut, field);
      }
      return mismatch();
    case ColumnType::Number:
    case ColumnType::Float: {
      if (!std::holds_alternative<std::int64_t>(value) && !std::holds_alternative<double>(value)) {
        return mismatch();
      }
      std::optional<std::string> d = digits(value, column.decimals);
      if (!d) return "the number " + shown(value) + " has no decimal digits; write null instead";
      if (d->size() > width) {
        // Readers of a column of integers read up to the first character that is no digit.
        std::optional<std::string> e;
        if (!holdsIntegers(column)) e = exponentForm(value, *d);
        if (e && e->size() <= width) {
          field.assign(width - e->size(), ' ');
          field += *e;
          return std::nullopt;
        }
        if (!cut) {
          return "the number " + shown(value) + " takes " + std::to_string(d->size()) +
                 " characters as " + *d +
                 (e ? " and " + std::to_string(e->size()) + " as " + *e : std::string()) +
                 "; the column holds " + std::to_string(width);
        }
        field.assign(width, '*');
        return std::nullopt;
      }
      std::size_t whole = std::min(d->find('.'), d->size()) - (d->front() == '-' ? 1 : 0);
      if (whole > kIntegerDigits &&
          (column.decimals == 0 || std::holds_alternative<std::int64_t>(value))) {
        return "the integer " + shown(value) + " takes " + std::to_string(whole) +
               " digits; Number columns read back integers of at most " +
               std::to_string(kIntegerDigits);
      }
      field.assign(width - d->size(), ' ');
      field += *d;
      return std::nullopt;
    }
    case ColumnType::Logical:
      if (const bool* b = std::get_if<bool>(&value)) {
        field.assign(1, *b ? 'T' : 'F');
        return std::nullopt;
      }
      return mismatch();
    case ColumnType::Date:
      if (const Date* d = std::get_if<Date>(&value)) {
        if (d->year < 1 || d->year > 9999 || d->month < 1 || d->month > 12 || d->day < 1 ||
            d->day > daysIn(d->year, d->month)) {
          return "the date " + shown(value) + " is no day of the years 1 to 9999";
        }
        char buffer[48];
        std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", d->year, d->month, d->day);
        field.assign(buffer, 8);
        return std::nullopt;
      }
      return mismatch();
    case ColumnType::Integer:
    case ColumnType::Memo:
      break;  // no values are written into them (unwritableColumn)
  }
  return mismatch();
}

}  // namespace kel::format
