#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace kel {

// The name by which the library knows an encoding, from the ways files and callers write it:
// letter case and surrounding blanks ignored; "UTF-8" for UTF8 and 65001; "CP<n>" for a number
// and for "ANSI <n>", "OEM <n>", "CP<n>", "WINDOWS-<n>"; "ISO-8859-<n>" for 8859<n>, 8859-<n> and
// ISO8859-<n>; any other name upper-cased. Empty for blank text.
std::string encodingName(std::string_view name);

// Turns the bytes of one text encoding into UTF-8. Windows-1252 and UTF-8 itself are converted
// here; every other encoding goes through the system (iconv, or the Windows code pages).
class Transcoder {
 public:
  // The converter from an encoding as iconv names it ("UTF-8", "CP1252", "CP852", "ISO-8859-7"),
  // or as encodingName takes it; null when neither this library nor the system knows the name.
  static std::unique_ptr<Transcoder> open(std::string_view encoding);
  virtual ~Transcoder() = default;

  // Appends the UTF-8 of `bytes` to `out`. A byte that is no character of the encoding becomes
  // U+FFFD; the result says how many did.
  virtual std::size_t toUtf8(std::string_view bytes, std::string& out) = 0;

 protected:
  Transcoder() = default;
  // The system's converter, one per system: null when it knows no such encoding.
  static std::unique_ptr<Transcoder> openSystem(const std::string& encoding);
};

}  // namespace kel
