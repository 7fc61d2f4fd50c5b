#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

// The byte orders of the files: little-endian everywhere but the first words of the main and
// index headers and the record headers, which are big-endian.
namespace kel::format {

template <class T>
T byteSwapped(T value) noexcept {
  unsigned char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

template <class T>
T loadLE(const unsigned char* at) noexcept {
  static_assert(std::is_arithmetic_v<T>);
  T value;
  std::memcpy(&value, at, sizeof(T));
  if constexpr (std::endian::native == std::endian::big) value = byteSwapped(value);
  return value;
}

template <class T>
void storeLE(unsigned char* at, T value) noexcept {
  static_assert(std::is_arithmetic_v<T>);
  if constexpr (std::endian::native == std::endian::big) value = byteSwapped(value);
  std::memcpy(at, &value, sizeof(T));
}

template <class T>
T loadBE(const unsigned char* at) noexcept {
  T value = loadLE<T>(at);
  return std::endian::native == std::endian::little ? byteSwapped(value) : value;
}

inline std::int32_t loadBE32(const unsigned char* at) noexcept {
  std::int32_t value = loadLE<std::int32_t>(at);
  return std::endian::native == std::endian::little ? byteSwapped(value) : value;
}

inline void storeBE32(unsigned char* at, std::int32_t value) noexcept {
  storeLE(at, std::endian::native == std::endian::little ? byteSwapped(value) : value);
}

// n little-endian values in a row, as a record's coordinates lie.
template <class T>
void loadLEArray(const unsigned char* at, T* out, std::size_t n) noexcept {
  if (n == 0) return;  // an empty array may have no address at all
  std::memcpy(out, at, n * sizeof(T));
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < n; ++i) out[i] = byteSwapped(out[i]);
  }
}

template <class T>
void storeLEArray(unsigned char* at, const T* values, std::size_t n) noexcept {
  if (n == 0) return;  // an empty array may have no address at all
  if constexpr (std::endian::native == std::endian::big) {
    for (std::size_t i = 0; i < n; ++i) storeLE(at + i * sizeof(T), values[i]);
  } else {
    std::memcpy(at, values, n * sizeof(T));
  }
}

}  // namespace kel::format
