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
  std::u16string get_value() const { return value_; }
  void put_value(std::u16string_view value) { value_ = value; }
  // Takes over text the caller has no further use for, as the table reader's values are.
  void put_value(std::u16string&& value) noexcept { value_ = std::move(value); }

  // Borrowed views for the library's own scans, which must not copy every name they compare.
  const std::u16string& name() const noexcept { return name_; }
  const std::u16string& value() const noexcept { return value_; }

  Variant getLateBound(std::u16string_view name) const;

 private:
  std::u16string name_;
  std::u16string value_;
};

}  // namespace kel
