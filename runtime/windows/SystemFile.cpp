#include "kel/runtime/SystemFile.h"

// windows.h comes first: the other headers build on its types.
// clang-format off
#include <windows.h>
#include <fcntl.h>
#include <io.h>
// clang-format on

#include "kel/runtime/Text.h"

// A descriptor here is a C runtime descriptor; the positioned reads and writes go to its Win32
// handle with an offset, as pread and pwrite do elsewhere.
namespace kel::systemfile {

namespace {

HANDLE handleOf(int fd) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
}

OVERLAPPED at(std::int64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFFu);
  o.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
  return o;
}

ErrorNumber openError(DWORD err) {
  switch (err) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      return ErrorNumber::PathNotFound;
    case ERROR_TOO_MANY_OPEN_FILES:
      return ErrorNumber::TooManyFiles;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return ErrorNumber::PermissionDenied;
    default:
      return ErrorNumber::PathFileAccessError;
  }
}

}  // namespace

int open(const std::string& nativePath, LinkRule links, std::int64_t& size) {
  // The system would take the path up to the NUL for the whole of it.
  if (nativePath.find('\0') != std::string::npos) raise(ErrorNumber::BadFileNameOrNumber);
  std::u16string path = toUtf16(nativePath);
  std::wstring wide(path.begin(), path.end());
  // Refusing links, the open takes a reparse point (a symbolic link, a junction) as the file
  // itself, and a file that turns out to be one is closed untouched.
  DWORD flags =
      FILE_ATTRIBUTE_NORMAL | (links == LinkRule::Refuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  HANDLE h =
      ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, flags, nullptr);
  if (h == INVALID_HANDLE_VALUE) raise(openError(::GetLastError()));
  LARGE_INTEGER length;
  BY_HANDLE_FILE_INFORMATION info;
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileSizeEx(h, &length) ||
      (links == LinkRule::Refuse &&
       (!::GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0))) {
    ::CloseHandle(h);
    raise(ErrorNumber::PathFileAccessError);
  }
  int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(h);
    raise(ErrorNumber::TooManyFiles);
  }
  size = length.QuadPart;
  return fd;
}

std::size_t readAt(int fd, void* out, std::size_t n, std::int64_t offset) {
  OVERLAPPED o = at(offset);
  DWORD read = 0;
  if (!::ReadFile(handleOf(fd), out, static_cast<DWORD>(n), &read, &o)) {
    if (::GetLastError() == ERROR_HANDLE_EOF) return 0;
    raise(ErrorNumber::DeviceIOError);
  }
  return read;
}

std::size_t writeAt(int fd, const void* data, std::size_t n, std::int64_t offset,
                    ErrorNumber& error) noexcept {
  OVERLAPPED o = at(offset);
  DWORD written = 0;
  if (::WriteFile(handleOf(fd), data, static_cast<DWORD>(n), &written, &o) && written > 0) {
    return written;
  }
  DWORD err = written == 0 ? ERROR_DISK_FULL : ::GetLastError();
  error = err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL ? ErrorNumber::DiskFull
                                                                  : ErrorNumber::DeviceIOError;
  return 0;
}

std::int64_t length(int fd) noexcept {
  LARGE_INTEGER size;
  return ::GetFileSizeEx(handleOf(fd), &size) ? size.QuadPart : -1;
}

void truncate(int fd, std::int64_t length) {
  LARGE_INTEGER at{};
  at.QuadPart = length;
  if (!::SetFilePointerEx(handleOf(fd), at, nullptr, FILE_BEGIN) ||
      !::SetEndOfFile(handleOf(fd))) {
    raise(ErrorNumber::PathFileAccessError);
  }
}

bool close(int fd) noexcept {
  return ::_close(fd) == 0;
}

}  // namespace kel::systemfile
