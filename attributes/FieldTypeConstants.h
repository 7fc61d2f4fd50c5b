#pragma once

#include <cstdint>

namespace kel {

// The dBASE column types, each the character code of the type letter that the table file stores.
// A variable of this type may hold any 32-bit value: the setters store whatever they are given.
enum FieldTypeConstants : std::int32_t {
  kelFieldTypeCharacter = 67,  // 'C'
  kelFieldTypeDate = 68,       // 'D'
  kelFieldTypeLogical = 76,    // 'L'
  kelFieldTypeNumber = 78,     // 'N'
};

}  // namespace kel
