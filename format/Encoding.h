#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Which encoding a table's text is in: the .cpg file's word, else the dBASE language driver mark,
// else Windows-1252, in which most shapefiles in circulation were written. Names are those that
// Transcoder::open takes.
namespace kel::format {

constexpr std::string_view kDefaultEncoding = "CP1252";

// The encoding a .cpg file's text names ("UTF-8", "1252", "ANSI 1252", "88591", "ISO-8859-7", a
// name iconv knows); empty when the text is blank.
std::string encodingOfCodePageFile(std::string_view text);

// The encoding a language driver mark stands for; empty for 0 (no mark) and marks not known.
std::string encodingOfLanguageDriver(std::uint8_t mark);

// Whether the encoding writes the 128 ASCII characters as their own single bytes, as the
// headers, the numbers and the dates of a table are written: the readers and the writers take
// none other for a table's text (not UTF-16, UTF-32 or EBCDIC). False for a name not known.
bool extendsAscii(std::string_view encoding);

// What a writer marks a table of an encoding (named as encodingOfCodePageFile names it) with: the
// .cpg file's word ("UTF-8"; "1252" for CP1252, "88591" for ISO-8859-1; other names as they are)
// and the language driver mark, 0x57 for Windows-1252 and none (0) for the others, as GDAL writes
// UTF-8: the .cpg file alone names them.
std::string codePageFileWord(std::string_view encoding);
std::uint8_t languageDriverOf(std::string_view encoding);

}  // namespace kel::format
