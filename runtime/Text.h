#pragma once

#include <string>
#include <string_view>

namespace kel {

// Interface strings are UTF-16; the file system and the tools speak UTF-8. Ill-formed input never
// fails: an unpaired surrogate or a bad UTF-8 sequence becomes U+FFFD.
std::string toUtf8(std::u16string_view text);
std::u16string toUtf16(std::string_view utf8);
// Appends one code point as UTF-8.
void appendUtf8(std::string& out, char32_t cp);

// Upper-cases one UTF-16 code unit with the simple (one-to-one) case mapping of the Latin, Greek
// and Cyrillic letters; every other code unit is returned as it is.
char16_t upperCase(char16_t c) noexcept;
std::u16string upperCase(std::u16string_view text);

// The text with its ASCII letters upper-cased (lower-cased), every other byte as it is, whatever
// the locale: for extensions, encoding names and the words of files.
std::string asciiUpper(std::string_view text);
std::string asciiLower(std::string_view text);

// Compares as the file system and the match tests do: letter case ignored.
bool equalsIgnoringCase(std::u16string_view a, std::u16string_view b) noexcept;

}  // namespace kel
