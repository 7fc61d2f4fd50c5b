#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "kel/format/DbaseFile.h"
#include "kel/runtime/Transcoder.h"

namespace kel::format {

// No value: a blank field, a number of asterisks, a logical '?'.
struct Null {
  bool operator==(const Null&) const = default;
};

struct Date {
  int year = 0, month = 0, day = 0;
  auto operator<=>(const Date&) const = default;
};

// The bytes of a column whose type letter the library does not interpret.
struct RawBytes {
  std::string bytes;
  bool operator==(const RawBytes&) const = default;
};

// A field's value by its column's type: C and M give text (UTF-8), N and F an integer when the
// column has no decimals and at most 18 digits and otherwise a double, L a bool, D a date, I an
// integer; any other letter the raw bytes.
using Value = std::variant<Null, std::int64_t, double, bool, Date, std::string, RawBytes>;

// What a value holds, for a caller that reads: whether it is null; it as a double (an integer or
// a double; none for other kinds); as an integer (an integer, or a double that is a whole number
// an int64_t holds exactly; none otherwise); as text (text and raw bytes as they are, null as
// nothing, numbers, dates as YYYY-MM-DD and true or false as shown() gives them).
bool isNull(const Value& value) noexcept;
std::optional<double> asDouble(const Value& value) noexcept;
std::optional<std::int64_t> asInteger(const Value& value) noexcept;
std::string asText(const Value& value);

// The value as the sentences show it: text quoted and shortened, numbers, dates, true or false.
std::string shown(const Value& value);

// The most digits of an integer that the readers of Number columns read back as that integer:
// wider ones they read as doubles, rounded. Every writer refuses wider integers.
constexpr std::size_t kIntegerDigits = 18;

// Decodes a field's bytes as its column says, text through `text`. A value that its bytes do not
// make (letters in a number, a date of 13 months, bytes that are no characters) sets `odd` to a
// sentence when it is given; such a value is Null, or its text with U+FFFD in place of the bad
// bytes.
Value decodeValue(const FieldDescriptor& column, std::string_view bytes, Transcoder& text,
                  std::string* odd = nullptr);

// Whether a column's values are integers (N or F without decimals, at most 18 digits wide, or I).
bool holdsIntegers(const FieldDescriptor& column) noexcept;

}  // namespace kel::format
