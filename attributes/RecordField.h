#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "runtime/Object.h"

namespace kel {

// One attribute of a shape: a name/value pair of texts. Values are text whatever the column's type.
class RecordField final : public Object {
 public:
  static constexpr ClassId kClassId = ClassId::RecordField;

  RecordField() noexcept : Object(this) {}

  void setRecordField(std::u16string_view recName, std::u16string_view recValue = {});

  std::u16string get_name() const { return name_; }
  void put_name(std::u16string_view name) { name_ = name; }
  std::u16string get_value() const { return std::u16string(value()); }
  void put_value(std::u16string_view value) {
    value_ = value;
    borrowed_ = {};
  }
  void put_value(std::u16string&& value) noexcept {
    value_ = std::move(value);
    borrowed_ = {};
  }
  // Takes text that stays in place, unchanged, for as long as the field lives, without copying
  // it: the table reader's values, which lie beside their fields in the reader's arena.
  void borrowValue(std::u16string_view value) noexcept {
    value_.clear();
    borrowed_ = value;
  }

  // Borrowed views for the library's own scans, which must not copy every name they compare.
  const std::u16string& name() const noexcept { return name_; }
  std::u16string_view value() const noexcept {
    return borrowed_.data() != nullptr ? borrowed_ : std::u16string_view(value_);
  }

  Variant getLateBound(std::u16string_view name) const;

 private:
  std::u16string name_;
  std::u16string value_;          // the value, unless it is borrowed
  std::u16string_view borrowed_;  // a borrowed value; no data when the value is value_
};

}  // namespace kel
