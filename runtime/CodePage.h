#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The single-byte code page of the dBASE table: Windows-1252, the code page of the Western
// European Windows installations that wrote most of the shapefiles in circulation.
namespace kel {

// Every byte is some character: the five bytes that Windows-1252 leaves undefined (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) read as the C1 control characters of the same value, so that they survive a
// read and a write unchanged.
char16_t ansiToChar(std::uint8_t byte) noexcept;
std::u16string ansiToText(std::string_view bytes);
// The same characters written to out, which has room for bytes.size() of them.
void ansiToText(std::string_view bytes, char16_t* out) noexcept;

// The byte of a character, 0 to 255; a character that has no byte in the code page gives a value
// above 255 (0x10000 plus the character), which a writer refuses.
std::int32_t ansiCodeOf(char16_t c) noexcept;

}  // namespace kel
