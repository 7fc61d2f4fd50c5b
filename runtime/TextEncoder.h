#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kel {

// Turns UTF-8 into the bytes of one text encoding, the other way from Transcoder. Windows-1252 and
// UTF-8 itself are encoded here; every other encoding goes through the system (iconv, or the
// Windows code pages). Nothing is replaced: a character the encoding cannot hold stops the work.
class TextEncoder {
 public:
  // The encoder into an encoding as iconv names it ("UTF-8", "CP1252", "ISO-8859-7"), letter case
  // ignored; null when neither this library nor the system knows the name.
  static std::unique_ptr<TextEncoder> open(std::string_view encoding);
  virtual ~TextEncoder() = default;

  enum class Stop {
    End,              // every character was encoded
    IllFormed,        // the input is no well-formed UTF-8 there
    NoSuchCharacter,  // the encoding has no bytes for the character there
    Full,             // the next character would take `out` past the limit
  };
  struct Result {
    Stop stop = Stop::End;
    std::size_t at = 0;  // where in the input the work stopped: the bytes before it are encoded
  };

  // Appends the encoding of the input's characters to `out`, whole characters only, as long as
  // `out` grows by no more than `limit` bytes.
  Result encode(std::string_view utf8, std::string& out, std::size_t limit = npos);

  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

 protected:
  TextEncoder() = default;
  // Appends the bytes of one character, given as its code point and its UTF-8 sequence; false
  // when the encoding has none.
  virtual bool encodeOne(char32_t cp, std::string_view sequence, std::string& out) = 0;
  // The system's encoder, one per system: null when it knows no such encoding.
  static std::unique_ptr<TextEncoder> openSystem(const std::string& encoding);
  // Whether the encoding writes every ASCII character as its own byte, as the encoders of this
  // library do; a run of ASCII then costs no call per character.
  bool asciiIsItself_ = false;
};

}  // namespace kel
