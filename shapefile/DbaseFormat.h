#pragma once

#include <cstdint>

#include "attributes/FieldTypeConstants.h"
#include "format/DbaseFile.h"

// The object model's view of the dBASE table, whose layout format/DbaseFile.h describes: it writes
// version 3 tables of C, D, L and N columns, one byte a character in Windows-1252, the year of the
// last update written modulo 100.
namespace kel::dbf {

constexpr std::uint8_t kVersion = 3;
constexpr std::int32_t kFileHeaderBytes = format::kDbfHeaderBytes;
constexpr std::int32_t kNameBytes = format::kFieldNameBytes - 1;  // the name, without its zero
using format::kDescriptorBytes;
using format::kHeaderTerminator;
using format::kNotDeleted;
constexpr std::uint8_t kEndOfFile = format::kEndOfFileMark;

// The column type of a type letter; an unknown letter (lower case included) reads as Character.
constexpr FieldTypeConstants fieldTypeOfLetter(std::uint8_t letter) noexcept {
  switch (letter) {
    case 'C':
      return kelFieldTypeCharacter;
    case 'D':
      return kelFieldTypeDate;
    case 'N':
      return kelFieldTypeNumber;
    case 'L':
      return kelFieldTypeLogical;
    default:
      return kelFieldTypeCharacter;
  }
}

}  // namespace kel::dbf
