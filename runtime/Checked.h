#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

#include "kel/runtime/Error.h"

// Checked numbers: the interface counts in signed 16 bits and sizes in unsigned 8 bits, and every
// step that leaves those ranges is an overflow error, never a silent wrap.
namespace kel {

// Rounds to the nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
double roundHalfEven(double value) noexcept;

std::int16_t toInt16(std::int64_t value);
std::int16_t toInt16(double value);  // rounds half to even first
std::uint8_t toUInt8(std::int64_t value);
std::uint8_t toUInt8(double value);  // rounds half to even first
std::int32_t toInt32(std::int64_t value);
std::int32_t toInt32(double value);  // rounds half to even first; NaN is an overflow too

// Arithmetic that fails with overflow instead of wrapping. Inline: the loops step with them.
#define KEL_CHECKED_OP(name, type, builtin)                   \
  inline type name(type a, type b) {                          \
    type result;                                              \
    if (builtin(a, b, &result)) raise(ErrorNumber::Overflow); \
    return result;                                            \
  }
KEL_CHECKED_OP(add16, std::int16_t, __builtin_add_overflow)
KEL_CHECKED_OP(sub16, std::int16_t, __builtin_sub_overflow)
KEL_CHECKED_OP(mul16, std::int16_t, __builtin_mul_overflow)
KEL_CHECKED_OP(add32, std::int32_t, __builtin_add_overflow)
KEL_CHECKED_OP(sub32, std::int32_t, __builtin_sub_overflow)
KEL_CHECKED_OP(mul32, std::int32_t, __builtin_mul_overflow)
#undef KEL_CHECKED_OP

// A counting loop with a signed 16-bit counter, first to last inclusive. The counter is stepped
// after every pass, so a loop whose last is 32767 runs that pass and then fails with overflow.
// A body that returns bool stops the loop by returning false; the result tells whether the loop
// ran to its end.
template <class Body>
bool loop16(std::int16_t first, std::int16_t last, Body&& body) {
  for (std::int16_t i = first; i <= last; i = add16(i, 1)) {
    if constexpr (std::is_void_v<std::invoke_result_t<Body&, std::int16_t>>) {
      body(i);
    } else if (!body(i)) {
      return false;
    }
  }
  return true;
}

// What loop16(first, last, ...) does after its last pass, for a walk that visits the same items
// without the counter: a last of 32767 is an overflow.
inline void stepPastLast16(std::int16_t last) {
  if (last == std::numeric_limits<std::int16_t>::max()) raise(ErrorNumber::Overflow);
}

}  // namespace kel
