#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "kel/runtime/Transcoder.h"

// Which encoding a table's text is in: the .cpg file's word, else the dBASE language driver mark,
// else what its text looks like (CodePageGuess), else Windows-1252, in which most shapefiles in
// circulation were written. Names are those that Transcoder::open takes.
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

// Guesses the encoding of text that neither a .cpg file nor a language driver mark names, from
// the bytes shown to it (a table's column names and text fields): UTF-8 when every one is
// well-formed UTF-8 (a sequence cut by the end of a field aside); otherwise the one of
// Windows-1252, DOS 850 and DOS 437 in which the bytes above ASCII read most like the letters of
// words, rather than symbols, box drawing or control characters inside them. A tie goes to the
// first of these. It keeps a few counts, whatever it is shown.
class CodePageGuess {
 public:
  // How many bytes of a table's rows a reader shows, from the first on.
  static constexpr std::int64_t kSampleBytes = std::int64_t{1} << 20;

  CodePageGuess();
  void add(std::string_view text);
  // The encoding guessed; empty when every byte shown was ASCII, which they all read alike.
  std::string encoding() const;

 private:
  enum class Kind : std::uint8_t { Upper, Lower, OtherLetter, Currency, Mark, Graphic, Control };
  static constexpr std::size_t kPages = 3;
  std::array<std::array<Kind, 128>, kPages> kinds_{};
  std::array<std::int64_t, kPages> scores_{};
  std::unique_ptr<Transcoder> utf8_;
  std::string scratch_;
  bool aboveAscii_ = false, utf8Valid_ = true;
};

}  // namespace kel::format
