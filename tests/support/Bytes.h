#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace kel::testing {

// Builds a file's bytes field by field, for fixtures that must be exact to the byte.
class Bytes {
 public:
  Bytes& i32be(std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<unsigned char>(u >> shift));
    return *this;
  }
  Bytes& i32le(std::int32_t v) { return raw(&v, 4); }
  Bytes& i16le(std::int16_t v) { return raw(&v, 2); }
  Bytes& u8(std::uint8_t v) { return raw(&v, 1); }
  Bytes& f64(double v) { return raw(&v, 8); }
  Bytes& text(std::string_view s) { return raw(s.data(), s.size()); }
  Bytes& zeros(std::size_t n) {
    bytes_.insert(bytes_.end(), n, 0);
    return *this;
  }
  Bytes& append(const std::vector<unsigned char>& more) {
    bytes_.insert(bytes_.end(), more.begin(), more.end());
    return *this;
  }

  std::size_t size() const { return bytes_.size(); }
  const std::vector<unsigned char>& vec() const { return bytes_; }
  operator const std::vector<unsigned char>&() const { return bytes_; }

 private:
  Bytes& raw(const void* p, std::size_t n) {
    const auto* c = static_cast<const unsigned char*>(p);
    bytes_.insert(bytes_.end(), c, c + n);
    return *this;
  }
  std::vector<unsigned char> bytes_;
};

}  // namespace kel::testing
