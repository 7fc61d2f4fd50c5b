#include "runtime/FileChannel.h"

// windows.h comes first: the other headers build on its types.
// clang-format off
#include <windows.h>
#include <fcntl.h>
#include <io.h>
// clang-format on

#include <algorithm>
#include <exception>
#include <utility>

#include "runtime/Error.h"
#include "runtime/Text.h"

// The Windows side of the channel: fd_ is a C runtime descriptor, and the positioned reads and
// writes go to its Win32 handle with an offset, as pread and pwrite do elsewhere.
namespace kel {

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

ErrorNumber writeError(DWORD err) {
  return err == ERROR_DISK_FULL || err == ERROR_HANDLE_DISK_FULL ? ErrorNumber::DiskFull
                                                                 : ErrorNumber::DeviceIOError;
}

}  // namespace

FileChannel::FileChannel(const std::string& nativePath) {
  std::u16string path = toUtf16(nativePath);
  std::wstring wide(path.begin(), path.end());
  HANDLE h =
      ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) raise(openError(::GetLastError()));
  LARGE_INTEGER size;
  if (::GetFileType(h) != FILE_TYPE_DISK || !::GetFileSizeEx(h, &size)) {
    ::CloseHandle(h);
    raise(ErrorNumber::PathFileAccessError);
  }
  fd_ = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
  if (fd_ < 0) {
    ::CloseHandle(h);
    raise(ErrorNumber::TooManyFiles);
  }
  size_ = size.QuadPart;
  buf_.reset(new unsigned char[kBufferSize]);
}

FileChannel::~FileChannel() {
  if (fd_ < 0) return;
  try {
    flush();
  } catch (const Error&) {
    // Nobody is left to tell; close() is the call that reports.
  }
  ::_close(fd_);
}

void FileChannel::get(void* out, std::size_t n) {
  if (pos_ < 0 || pos_ > size_ || static_cast<std::uint64_t>(size_ - pos_) < n) {
    raise(ErrorNumber::InputPastEndOfFile);
  }
  auto* dst = static_cast<unsigned char*>(out);
  std::int64_t at = pos_;
  std::size_t done = 0;
  while (done < n) {
    if (at < bufStart_ || at >= bufEnd()) fill(at);
    std::size_t k = std::min(n - done, static_cast<std::size_t>(bufEnd() - at));
    std::memcpy(dst + done, buf_.get() + (at - bufStart_), k);
    done += k;
    at += static_cast<std::int64_t>(k);
  }
  pos_ = at;
}

void FileChannel::put(const void* data, std::size_t n) {
  const auto* src = static_cast<const unsigned char*>(data);
  while (n > 0) {
    bool inWindow = pos_ >= bufStart_ && pos_ <= bufEnd() &&
                    pos_ < bufStart_ + static_cast<std::int64_t>(kBufferSize);
    if (!inWindow) {
      flush();
      bufStart_ = pos_;
      bufLen_ = 0;
    }
    auto offset = static_cast<std::size_t>(pos_ - bufStart_);
    std::size_t k = std::min(n, kBufferSize - offset);
    std::memcpy(buf_.get() + offset, src, k);
    bufLen_ = std::max(bufLen_, offset + k);
    dirty_ = true;
    pos_ += static_cast<std::int64_t>(k);
    size_ = std::max(size_, pos_);
    src += k;
    n -= k;
  }
}

void FileChannel::flush() {
  if (!dirty_) return;
  std::size_t done = 0;
  while (done < bufLen_) {
    OVERLAPPED o = at(bufStart_ + static_cast<std::int64_t>(done));
    DWORD written = 0;
    DWORD chunk = static_cast<DWORD>(bufLen_ - done);
    if (!::WriteFile(handleOf(fd_), buf_.get() + done, chunk, &written, &o) || written == 0) {
      // The bytes that did not reach the file are no part of it.
      DWORD err = written == 0 ? ERROR_DISK_FULL : ::GetLastError();
      LARGE_INTEGER size;
      if (::GetFileSizeEx(handleOf(fd_), &size)) size_ = size.QuadPart;
      bufLen_ = 0;
      dirty_ = false;
      raise(writeError(err));
    }
    done += written;
  }
  dirty_ = false;
}

void FileChannel::fill(std::int64_t start) {
  flush();
  bufStart_ = start;
  bufLen_ = 0;
  auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(kBufferSize, size_ - start));
  while (bufLen_ < wanted) {
    OVERLAPPED o = at(bufStart_ + static_cast<std::int64_t>(bufLen_));
    DWORD read = 0;
    if (!::ReadFile(handleOf(fd_), buf_.get() + bufLen_, static_cast<DWORD>(wanted - bufLen_),
                    &read, &o)) {
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      raise(ErrorNumber::DeviceIOError);
    }
    if (read == 0) break;
    bufLen_ += read;
  }
  // Only a file cut short behind our back gets here; its missing bytes are not made up.
  if (bufLen_ == 0) raise(ErrorNumber::InputPastEndOfFile);
}

void FileChannel::truncate() {
  bufLen_ = 0;
  dirty_ = false;
  bufStart_ = 0;
  pos_ = 0;
  LARGE_INTEGER zero{};
  if (!::SetFilePointerEx(handleOf(fd_), zero, nullptr, FILE_BEGIN) ||
      !::SetEndOfFile(handleOf(fd_))) {
    raise(ErrorNumber::PathFileAccessError);
  }
  size_ = 0;
}

void FileChannel::close() {
  if (fd_ < 0) return;
  std::exception_ptr failure;
  try {
    flush();
  } catch (...) {
    failure = std::current_exception();
  }
  int rc = ::_close(std::exchange(fd_, -1));
  if (failure) std::rethrow_exception(failure);
  if (rc != 0) raise(ErrorNumber::DeviceIOError);
}

}  // namespace kel
