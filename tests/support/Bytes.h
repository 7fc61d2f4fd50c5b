#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace kel::testing {

// Builds a file's bytes field by field, for fixtures that must be exact to the byte.
class Bytes {
 public:
  Bytes& i32be(std::int32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) u8(static_cast<std::uint8_t>(v >> shift));
    return *this;
  }
  Bytes& i32le(std::int32_t v) { return raw(&v, 4); }
  Bytes& i16le(std::int16_t v) { return raw(&v, 2); }
  Bytes& u8(std::uint8_t v) { return raw(&v, 1); }
  Bytes& f64(double v) { return raw(&v, 8); }
  Bytes& text(std::string_view s) { return raw(s.data(), s.size()); }
  Bytes& zeros(std::size_t n) { return append(std::vector<unsigned char>(n)); }
  Bytes& append(const std::vector<unsigned char>& more) { return raw(more.data(), more.size()); }
  std::size_t size() const { return bytes_.size(); }
  const std::vector<unsigned char>& vec() const { return bytes_; }

 private:
  Bytes& raw(const void* p, std::size_t n) {
    const auto* c = static_cast<const unsigned char*>(p);
    bytes_.insert(bytes_.end(), c, c + n);
    return *this;
  }
  std::vector<unsigned char> bytes_;
};

}  // namespace kel::testing
