#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace kel {

// The automation error numbers that the library raises. They are the numbers that automation
// callers already know, so a script can test Err.Number the way it always has.
enum class ErrorNumber : std::int32_t {
  InvalidProcedureCall = 5,
  Overflow = 6,
  OutOfMemory = 7,
  SubscriptOutOfRange = 9,
  TypeMismatch = 13,
  BadFileNameOrNumber = 52,
  FileNotFound = 53,
  BadFileMode = 54,
  FileAlreadyOpen = 55,
  DeviceIOError = 57,
  DiskFull = 61,
  InputPastEndOfFile = 62,
  BadRecordNumber = 63,
  TooManyFiles = 67,
  PermissionDenied = 70,
  PathFileAccessError = 75,
  PathNotFound = 76,
  ObjectVariableNotSet = 91,
  ObjectRequired = 424,
  CantCreateObject = 429,
  ObjectDoesntSupportMember = 438,
  ArgumentNotOptional = 449,
  WrongNumberOfArguments = 450,
};

// The standard description of an error number, as automation reports it ("Overflow", ...).
std::u16string standardDescription(std::int32_t number);

// The one exception type of the library: an automation error with number, source and description.
class Error : public std::exception {
 public:
  // The source every error of the library carries unless a caller says otherwise.
  static constexpr std::u16string_view kDefaultSource = u"kelShapeLib";

  explicit Error(ErrorNumber number);
  Error(ErrorNumber number, std::u16string description);
  Error(std::int32_t number, std::u16string source, std::u16string description);

  std::int32_t number() const noexcept { return number_; }
  const std::u16string& source() const noexcept { return source_; }
  const std::u16string& description() const noexcept { return description_; }

  bool is(ErrorNumber n) const noexcept { return number_ == static_cast<std::int32_t>(n); }

  // UTF-8 text for logs and tools: "<description> (error <number>)".
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  std::int32_t number_;
  std::u16string source_;
  std::u16string description_;
  std::string what_;
};

// Shorthand for the raise sites, which are many; keeps them to one line.
[[noreturn]] void raise(ErrorNumber number);

}  // namespace kel
