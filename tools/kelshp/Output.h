#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kel/runtime/AtomicFileSet.h"

// Text for the tool's outputs: numbers that read back to the same double, JSON strings, and text
// from files and paths made safe for a terminal.
namespace kelshp {

// The shortest text that reads back to the same double; "null" for NaN and the infinities,
// which JSON has no words for.
std::string number(double value);

// A JSON string literal of UTF-16 text, quotes included; control characters (C0, DEL and C1)
// escaped as \u00XX.
std::string jsonString(std::u16string_view text);

// UTF-8 text as the terminal gets it: a control character (U+0000 to U+001F, U+007F to U+009F)
// as \u{XX}, its code point in two hex digits, a byte that is not part of valid UTF-8 as \xXX, and
// a backslash as \\, so that nothing a file or a file name holds can steer the terminal and every
// escape reads one way.
std::string visible(std::string_view utf8);

// A file written as text a piece at a time, through a buffer of 64 KiB, that appears whole under
// its name at commit() or not at all: memory holds the buffer, whatever the file's size. Failures
// are raised as kel::Error, naming the file.
class WholeFile {
 public:
  explicit WholeFile(const std::string& path) : member_(file_.add(path)) {}
  void append(std::string_view text) {
    buffer_ += text;
    if (buffer_.size() >= 64 * 1024) flush();
  }
  void commit() {
    flush();
    file_.commit();
  }

 private:
  void flush();
  kel::AtomicFileSet file_;
  std::size_t member_;
  std::string buffer_;
  std::int64_t written_ = 0;
};

// Text for XML attributes and content: the five special characters escaped.
std::string xmlEscaped(std::string_view utf8);

}  // namespace kelshp
