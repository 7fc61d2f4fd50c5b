#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "kel/runtime/Object.h"

namespace kel {

// One attribute of a shape: a name/value pair of texts. Values are text whatever the column's type.
class RecordField final : public Object {
 public:
  static constexpr ClassId kClassId = ClassId::RecordField;
  static constexpr bool kHoldsObjects = false;  // texts only

  RecordField() noexcept : Object(this) {}

  void setRecordField(std::u16string_view recName, std::u16string_view recValue = {});

  std::u16string get_name() const { return std::u16string(name()); }
  void put_name(std::u16string_view name) {
    name_ = name;
    nameBorrowed_ = false;
  }
  std::u16string get_value() const { return std::u16string(value()); }
  void put_value(std::u16string_view value) {
    value_ = value;
    valueBorrowed_ = false;
  }
  void put_value(std::u16string&& value) noexcept {
    value_ = std::move(value);
    valueBorrowed_ = false;
  }
  // Takes a name and a value that lie side by side at `text`, the name first, and stay there
  // unchanged for as long as the field lives, without copying them: a table read's texts, which
  // lie beside their fields in the read's arena. Either becomes the field's own when changed.
  void borrowText(const char16_t* text, std::uint16_t nameChars,
                  std::uint16_t valueChars) noexcept {
    name_.clear();
    value_.clear();
    borrowed_ = text;
    nameChars_ = nameChars;
    valueChars_ = valueChars;
    nameBorrowed_ = valueBorrowed_ = true;
  }

  // Borrowed views for the library's own scans, which must not copy every name they compare.
  std::u16string_view name() const noexcept {
    return nameBorrowed_ ? std::u16string_view(borrowed_, nameChars_) : std::u16string_view(name_);
  }
  std::u16string_view value() const noexcept {
    return valueBorrowed_ ? std::u16string_view(borrowed_ + nameChars_, valueChars_)
                          : std::u16string_view(value_);
  }

  Variant getLateBound(std::u16string_view name) const;

 private:
  std::u16string name_;                 // the name, unless it is borrowed
  std::u16string value_;                // the value, unless it is borrowed
  const char16_t* borrowed_ = nullptr;  // a borrowed name and value, side by side
  std::uint16_t nameChars_ = 0;
  std::uint16_t valueChars_ = 0;
  bool nameBorrowed_ = false;
  bool valueBorrowed_ = false;
};

}  // namespace kel
