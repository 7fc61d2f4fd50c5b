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

}  // namespace kel::format
