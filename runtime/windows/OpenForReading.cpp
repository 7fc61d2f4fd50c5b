// windows.h comes first: the other headers build on its types.
// clang-format off
#include <windows.h>
#include <fcntl.h>
#include <io.h>
// clang-format on

#include "kel/runtime/ReadOnlyFile.h"
#include "kel/runtime/Text.h"

namespace kel {

int ReadOnlyFile::openForReading(const std::string& nativePath, std::int64_t& size,
                                 OpenError& error) {
  std::u16string path = toUtf16(nativePath);
  std::wstring wide(path.begin(), path.end());
  HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = ::GetLastError();
    bool missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
    error = {missing, missing ? "no such file" : "the system refused to open it"};
    return -1;
  }
  LARGE_INTEGER length;
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileSizeEx(h, &length)) {
    ::CloseHandle(h);
    error = {false, "not a regular file", true};
    return -1;
  }
  int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(h);
    error = {false, "too many open files"};
    return -1;
  }
  size = length.QuadPart;
  return fd;
}

}  // namespace kel
