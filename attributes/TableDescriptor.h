#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kel/attributes/FieldTypeConstants.h"
#include "kel/runtime/Object.h"
#include "kel/runtime/Variant.h"

namespace kel {

// One column of the dBASE table: name, type, width and precision. Stored as given; the limits of
// the table file (10-character names, the four types) bite only when the table is written. A
// width of 0 asks the writer to size the column.
class TableDescriptor final : public Object {
 public:
  static constexpr ClassId kClassId = ClassId::TableDescriptor;
  static constexpr bool kHoldsObjects = false;  // texts only

  TableDescriptor() noexcept : Object(this) {}

  // Sets all four at once; an argument left out stores its default, not the current value.
  Variant setTableDescriptor(std::u16string_view name,
                             FieldTypeConstants fieldType = kelFieldTypeCharacter,
                             std::uint8_t width = 0, std::uint8_t precision = 0);

  std::u16string get_name() const { return name_; }
  void put_name(std::u16string_view name) { name_ = name; }
  FieldTypeConstants get_fieldType() const noexcept { return fieldType_; }
  void put_fieldType(FieldTypeConstants type) noexcept { fieldType_ = type; }
  std::uint8_t get_width() const noexcept { return width_; }
  void put_width(std::uint8_t width) noexcept { width_ = width; }
  std::uint8_t get_precision() const noexcept { return precision_; }
  void put_precision(std::uint8_t precision) noexcept { precision_ = precision; }

  // A borrowed view for the library's own scans.
  const std::u16string& name() const noexcept { return name_; }

  Variant getLateBound(std::u16string_view name) const;

 private:
  std::u16string name_;
  FieldTypeConstants fieldType_ = kelFieldTypeCharacter;
  std::uint8_t width_ = 0;
  std::uint8_t precision_ = 0;
};

}  // namespace kel
