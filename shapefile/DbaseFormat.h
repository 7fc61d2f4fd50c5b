#pragma once

#include <cstdint>

#include "attributes/FieldTypeConstants.h"

// The layout of the dBASE table (.dbf), described once for the reader and the writer. Integers are
// little-endian; text is one byte a character in the table's code page.
//
//   file header, 32 bytes
//     0   1  version (3: no memo file)
//     1   3  date of the last update: year - 1900 modulo 100, month, day
//     4   4  number of records
//     8   2  header length: 32 + 32 * fields + 1
//    10   2  record length: 1 + the sum of the widths
//    12  20  reserved, zero
//   field descriptor, 32 bytes, one a column
//     0  10  name, zero-padded
//    10   1  zero, ends the name
//    11   1  type letter: C, D, L or N
//    12   4  field data address, zero
//    16   1  width in bytes
//    17   1  decimal count
//    18  14  reserved, zero
//   header terminator 0x0D
//   records: a deletion flag (a blank: not deleted) and the fields' bytes in column order
//   end-of-file mark 0x1A
namespace kel::dbf {

constexpr std::uint8_t kVersion = 3;
constexpr std::int32_t kFileHeaderBytes = 32;
constexpr std::int32_t kDescriptorBytes = 32;
constexpr std::int32_t kNameBytes = 10;
constexpr std::uint8_t kHeaderTerminator = 0x0D;
constexpr std::uint8_t kEndOfFile = 0x1A;
constexpr std::uint8_t kNotDeleted = 0x20;

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
