#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

// Hands out the bytes of a fuzz input as the values an edit needs; an exhausted input gives zeros.
namespace kel::fuzz {

class FuzzBytes {
 public:
  explicit FuzzBytes(std::string_view bytes) noexcept : rest_(bytes) {}

  bool empty() const noexcept { return rest_.empty(); }

  std::uint8_t byte() noexcept {
    if (rest_.empty()) return 0;
    auto b = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }
  // A number below `bound` (which must not be 0).
  std::uint32_t below(std::uint32_t bound) noexcept { return byte() % bound; }

  std::int32_t int32() noexcept {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v = v << 8 | byte();
    return static_cast<std::int32_t>(v);
  }

  // Mostly small whole numbers, which make readable cases; sometimes the awkward doubles.
  double number() noexcept {
    std::uint8_t kind = byte();
    if (kind < 200) return static_cast<double>(static_cast<std::int8_t>(byte()));
    switch (kind % 8) {
      case 0:
        return -0.0;
      case 1:
        return std::numeric_limits<double>::quiet_NaN();
      case 2:
        return std::numeric_limits<double>::infinity();
      case 3:
        return -std::numeric_limits<double>::max();
      case 4:
        return std::numeric_limits<double>::denorm_min();
      default: {
        std::uint64_t bits = static_cast<std::uint32_t>(int32());
        bits = bits << 32 | static_cast<std::uint32_t>(int32());
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
      }
    }
  }

  // Text of up to maxLength characters: mostly Latin-1, with the characters that test the code
  // page and the table format (the euro sign, one without a byte, carriage return, zero).
  std::u16string text(std::size_t maxLength) noexcept {
    std::size_t length = below(static_cast<std::uint32_t>(maxLength) + 1);
    if (byte() >= 250) length = maxLength;  // long values exercise cutting and sizing
    std::u16string s;
    for (std::size_t k = 0; k < length; ++k) {
      std::uint8_t b = byte();
      static constexpr char16_t kAwkward[] = {u'\u20AC', u'\u4E00', u'\r',     u'\0',
                                              u'\u0081', u'\u0152', u'\uFFFF', u' '};
      s += b >= 0xF8 ? kAwkward[b - 0xF8] : char16_t{b};
    }
    return s;
  }

 private:
  std::string_view rest_;
};

}  // namespace kel::fuzz
