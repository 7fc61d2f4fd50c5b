#pragma once

#include <cstdint>

#include "kel/attributes/FieldTypeConstants.h"
#include "kel/format/DbaseFile.h"

// The object model's reader's view of the dBASE table, whose layout format/DbaseFile.h describes:
// C, D, L and N columns, one byte a character in Windows-1252.
namespace kel::dbf {

constexpr std::int32_t kFileHeaderBytes = format::kDbfHeaderBytes;
constexpr std::int32_t kNameBytes = format::kMaxNameBytes;
using format::kDescriptorBytes;
using format::kHeaderTerminator;

// The column type of a type letter; an unknown letter (lower case included) reads as Character.
constexpr FieldTypeConstants fieldTypeOfLetter(std::uint8_t letter) noexcept {
  using format::ColumnType;
  switch (format::columnTypeOf(letter).value_or(ColumnType::Character)) {
    case ColumnType::Character:
    case ColumnType::Float:
    case ColumnType::Integer:
    case ColumnType::Memo:
      return kelFieldTypeCharacter;
    case ColumnType::Date:
      return kelFieldTypeDate;
    case ColumnType::Number:
      return kelFieldTypeNumber;
    case ColumnType::Logical:
      return kelFieldTypeLogical;
  }
  return kelFieldTypeCharacter;
}

}  // namespace kel::dbf
