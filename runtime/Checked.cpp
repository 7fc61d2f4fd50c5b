#include "kel/runtime/Checked.h"

#include <cmath>
#include <limits>

namespace kel {

namespace {

template <class T>
T narrow(std::int64_t value) {
  if (value < std::numeric_limits<T>::min() || value > std::numeric_limits<T>::max()) {
    raise(ErrorNumber::Overflow);
  }
  return static_cast<T>(value);
}

template <class T>
T narrow(double value) {
  double r = roundHalfEven(value);
  // NaN fails both comparisons, so it is caught by testing for the inside of the range.
  if (!(r >= static_cast<double>(std::numeric_limits<T>::min()) &&
        r <= static_cast<double>(std::numeric_limits<T>::max()))) {
    raise(ErrorNumber::Overflow);
  }
  return static_cast<T>(r);
}

}  // namespace

double roundHalfEven(double value) noexcept {
  if (!std::isfinite(value)) return value;
  double floor = std::floor(value);
  double diff = value - floor;  // exact for every double
  if (diff < 0.5) return floor;
  if (diff > 0.5) return floor + 1.0;
  return std::fmod(floor, 2.0) == 0.0 ? floor : floor + 1.0;
}

std::int16_t toInt16(std::int64_t value) {
  return narrow<std::int16_t>(value);
}
std::int16_t toInt16(double value) {
  return narrow<std::int16_t>(value);
}
std::uint8_t toUInt8(std::int64_t value) {
  return narrow<std::uint8_t>(value);
}
std::uint8_t toUInt8(double value) {
  return narrow<std::uint8_t>(value);
}
std::int32_t toInt32(std::int64_t value) {
  return narrow<std::int32_t>(value);
}
std::int32_t toInt32(double value) {
  return narrow<std::int32_t>(value);
}

}  // namespace kel
