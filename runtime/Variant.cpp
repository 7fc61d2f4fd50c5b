#include "kel/runtime/Variant.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "kel/runtime/Checked.h"
#include "kel/runtime/Text.h"

namespace kel {

namespace {

// Reads a whole text as a number, the way automation converts text: blanks around it allowed,
// anything else left over is a type mismatch.
double parseNumber(std::u16string_view text) {
  std::string ascii;
  for (char16_t c : text) {
    if (c > 0x7F) raise(ErrorNumber::TypeMismatch);
    ascii += static_cast<char>(c);
  }
  std::size_t first = ascii.find_first_not_of(' ');
  std::size_t last = ascii.find_last_not_of(' ');
  if (first == std::string::npos) raise(ErrorNumber::TypeMismatch);
  ascii = ascii.substr(first, last - first + 1);
  // strtod would also take "inf", "nan" and hexadecimal forms, which automation does not.
  for (char c : ascii) {
    bool allowed =
        (c >= '0' && c <= '9') || c == '.' || c == '+' || c == '-' || c == 'e' || c == 'E';
    if (!allowed) raise(ErrorNumber::TypeMismatch);
  }
  char* end = nullptr;
  double value = std::strtod(ascii.c_str(), &end);
  if (end != ascii.c_str() + ascii.size()) raise(ErrorNumber::TypeMismatch);
  if (std::isinf(value)) raise(ErrorNumber::Overflow);
  return value;
}

std::u16string formatDouble(double value) {
  if (std::isnan(value)) return u"NaN";
  if (std::isinf(value)) return value > 0 ? u"Infinity" : u"-Infinity";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  return toUtf16(buffer);
}

}  // namespace

Variant::Variant(std::u16string_view text) : kind_(Kind::Text), text_(new std::u16string(text)) {}

void Variant::copyText(const std::u16string& text) {
  text_ = new std::u16string(text);
}

void Variant::deleteText() noexcept {
  delete text_;
}

// Every number a variant holds is exact as a double, so the integer conversions go through it
// and round and range-check in one place.
bool Variant::toBoolean() const {
  if (kind_ == Kind::Text) {
    if (equalsIgnoringCase(*text_, u"True")) return true;
    if (equalsIgnoringCase(*text_, u"False")) return false;
  }
  return toDouble() != 0;
}

std::uint8_t Variant::toByte() const {
  return kel::toUInt8(toDouble());
}

std::int16_t Variant::toInt16() const {
  return kind_ == Kind::Integer ? i16_ : kel::toInt16(toDouble());
}

std::int32_t Variant::toInt32() const {
  if (kind_ == Kind::Integer || kind_ == Kind::Byte || kind_ == Kind::Boolean) return i16_;
  if (kind_ == Kind::Long) return i32_;
  return kel::toInt32(toDouble());
}

double Variant::toDouble() const {
  switch (kind_) {
    case Kind::Empty:
      return 0.0;
    case Kind::Boolean:
    case Kind::Byte:
    case Kind::Integer:
      return i16_;
    case Kind::Long:
      return i32_;
    case Kind::Double:
      return d_;
    case Kind::Text:
      return parseNumber(*text_);
    case Kind::Object:
      break;
  }
  raise(ErrorNumber::TypeMismatch);
}

std::u16string Variant::toText() const {
  switch (kind_) {
    case Kind::Empty:
      return u"";
    case Kind::Boolean:
      return i16_ != 0 ? u"True" : u"False";
    case Kind::Byte:
    case Kind::Integer:
      return toUtf16(std::to_string(i16_));
    case Kind::Long:
      return toUtf16(std::to_string(i32_));
    case Kind::Double:
      return formatDouble(d_);
    case Kind::Text:
      return *text_;
    case Kind::Object:
      break;
  }
  raise(ErrorNumber::TypeMismatch);
}

Object& Variant::requireObject() const {
  if (kind_ != Kind::Object) raise(ErrorNumber::ObjectRequired);
  if (obj_ == nullptr) raise(ErrorNumber::ObjectVariableNotSet);
  return *obj_;
}

}  // namespace kel
