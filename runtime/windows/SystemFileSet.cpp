#include "kel/runtime/SystemFileSet.h"

// windows.h comes first: the other headers build on its types.
// clang-format off
#include <windows.h>
#include <fcntl.h>
#include <io.h>
// clang-format on

#include "kel/runtime/Text.h"

// A descriptor here is a C runtime descriptor over a Win32 handle, as SystemFile.cpp makes them.
namespace kel::systemfileset {

namespace {

std::wstring wide(const std::string& path) {
  std::u16string p = toUtf16(path);
  return std::wstring(p.begin(), p.end());
}

bool fail(Failure& failure, DWORD err) noexcept {
  switch (err) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
      failure.number = ErrorNumber::PathNotFound;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      failure.number = ErrorNumber::PermissionDenied;
      break;
    case ERROR_TOO_MANY_OPEN_FILES:
      failure.number = ErrorNumber::TooManyFiles;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      failure.number = ErrorNumber::DiskFull;
      break;
    default:
      failure.number = ErrorNumber::PathFileAccessError;
  }
  failure.sentence = "Windows error " + std::to_string(err);
  return false;
}

}  // namespace

int createNew(const std::string& path, bool& taken, Failure& failure) noexcept {
  taken = false;
  // CREATE_NEW fails on any existing name, a symbolic link's included, so no link is followed.
  // Writing is shared: the caller may write the new file through a channel of its own; so is
  // deleting, so that a file still open can be renamed or removed.
  HANDLE h = ::CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD err = ::GetLastError();
    taken = err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS;
    fail(failure, err);
    return -1;
  }
  int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(h);
    ::DeleteFileW(wide(path).c_str());
    fail(failure, ERROR_TOO_MANY_OPEN_FILES);
  }
  return fd;
}

bool sync(int fd, Failure& failure) noexcept {
  HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  return ::FlushFileBuffers(h) || fail(failure, ::GetLastError());
}

bool rename(const std::string& from, const std::string& to, Failure& failure) noexcept {
  return ::MoveFileExW(wide(from).c_str(), wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ||
         fail(failure, ::GetLastError());
}

LinkResult link(const std::string& existing, const std::string& name, Failure& failure) noexcept {
  if (::CreateHardLinkW(wide(name).c_str(), wide(existing).c_str(), nullptr)) {
    return LinkResult::Done;
  }
  DWORD err = ::GetLastError();
  fail(failure, err);
  if (err == ERROR_FILE_EXISTS || err == ERROR_ALREADY_EXISTS) return LinkResult::Taken;
  if (err == ERROR_INVALID_FUNCTION || err == ERROR_NOT_SUPPORTED || err == ERROR_ACCESS_DENIED ||
      err == ERROR_TOO_MANY_LINKS) {
    return LinkResult::Unsupported;
  }
  return LinkResult::Failed;
}

bool remove(const std::string& path, Failure& failure) noexcept {
  if (::DeleteFileW(wide(path).c_str())) return true;
  DWORD err = ::GetLastError();
  return err == ERROR_FILE_NOT_FOUND || fail(failure, err);
}

Kind kindOf(const std::string& path) noexcept {
  DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Kind::None;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? Kind::Directory : Kind::Other;
}

void syncDirectoryOf(const std::string&) noexcept {
  // The renames were made with MOVEFILE_WRITE_THROUGH.
}

void takeAccessOf(const std::string&, int) noexcept {
  // A new file inherits the directory's access control, as the file it replaces did.
}

int openExisting(const std::string& path) noexcept {
  HANDLE h = ::CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                           nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    return -1;
  }
  int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
  if (fd < 0) ::CloseHandle(h);
  return fd;
}

bool tryLock(int fd) noexcept {
  HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
  OVERLAPPED at = {};
  // A lock far past any byte the file holds, so that reading it stays free.
  at.Offset = 0xFFFFFFF0u;
  at.OffsetHigh = 0x7FFFFFFFu;
  return ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

namespace {

Identity identityOfHandle(HANDLE h) noexcept {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info)) return {};
  return {info.dwVolumeSerialNumber,
          (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

}  // namespace

Identity identityOf(int fd) noexcept {
  return identityOfHandle(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)));
}

Identity identityAt(const std::string& path, bool followLinks) noexcept {
  HANDLE h = ::CreateFileW(
      wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  Identity id = identityOfHandle(h);
  ::CloseHandle(h);
  return id;
}

void removeNow(const char* path) noexcept {
  wchar_t name[MAX_PATH * 4];
  if (::MultiByteToWideChar(CP_UTF8, 0, path, -1, name, MAX_PATH * 4) > 0) ::DeleteFileW(name);
}

SignalsHeld::SignalsHeld() noexcept {}

SignalsHeld::~SignalsHeld() {}

std::vector<std::string> namesBeside(const std::string& path) {
  std::size_t slash = path.find_last_of("\\/:");
  std::string pattern = (slash == std::string::npos ? "" : path.substr(0, slash + 1)) + "*";
  std::vector<std::string> names;
  WIN32_FIND_DATAW found;
  HANDLE h = ::FindFirstFileW(wide(pattern).c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring w = found.cFileName;
    std::string name = toUtf8(std::u16string(w.begin(), w.end()));
    if (name != "." && name != "..") names.push_back(std::move(name));
  } while (::FindNextFileW(h, &found));
  ::FindClose(h);
  return names;
}

}  // namespace kel::systemfileset
