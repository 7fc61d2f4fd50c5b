#include "kel/runtime/Error.h"

#include "kel/runtime/Text.h"

namespace kel {

std::u16string standardDescription(std::int32_t number) {
  switch (static_cast<ErrorNumber>(number)) {
    case ErrorNumber::InvalidProcedureCall:
      return u"Invalid procedure call or argument";
    case ErrorNumber::Overflow:
      return u"Overflow";
    case ErrorNumber::OutOfMemory:
      return u"Out of memory";
    case ErrorNumber::SubscriptOutOfRange:
      return u"Subscript out of range";
    case ErrorNumber::TypeMismatch:
      return u"Type mismatch";
    case ErrorNumber::BadFileNameOrNumber:
      return u"Bad file name or number";
    case ErrorNumber::FileNotFound:
      return u"File not found";
    case ErrorNumber::BadFileMode:
      return u"Bad file mode";
    case ErrorNumber::FileAlreadyOpen:
      return u"File already open";
    case ErrorNumber::DeviceIOError:
      return u"Device I/O error";
    case ErrorNumber::DiskFull:
      return u"Disk full";
    case ErrorNumber::InputPastEndOfFile:
      return u"Input past end of file";
    case ErrorNumber::BadRecordNumber:
      return u"Bad record number";
    case ErrorNumber::TooManyFiles:
      return u"Too many files";
    case ErrorNumber::PermissionDenied:
      return u"Permission denied";
    case ErrorNumber::PathFileAccessError:
      return u"Path/File access error";
    case ErrorNumber::PathNotFound:
      return u"Path not found";
    case ErrorNumber::ObjectVariableNotSet:
      return u"Object variable or With block variable not set";
    case ErrorNumber::ObjectRequired:
      return u"Object required";
    case ErrorNumber::CantCreateObject:
      return u"ActiveX component can't create object";
    case ErrorNumber::ObjectDoesntSupportMember:
      return u"Object doesn't support this property or method";
    case ErrorNumber::ArgumentNotOptional:
      return u"Argument not optional";
    case ErrorNumber::WrongNumberOfArguments:
      return u"Wrong number of arguments or invalid property assignment";
  }
  return u"Application-defined or object-defined error";
}

Error::Error(ErrorNumber number)
    : Error(number, standardDescription(static_cast<std::int32_t>(number))) {}

Error::Error(ErrorNumber number, std::u16string description)
    : Error(static_cast<std::int32_t>(number), std::u16string(kDefaultSource),
            std::move(description)) {}

Error::Error(std::int32_t number, std::u16string source, std::u16string description)
    : number_(number), source_(std::move(source)), description_(std::move(description)) {
  what_ = toUtf8(description_) + " (error " + std::to_string(number_) + ")";
}

void raise(ErrorNumber number) {
  throw Error(number);
}

}  // namespace kel
