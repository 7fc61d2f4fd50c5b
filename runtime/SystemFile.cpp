#include "kel/runtime/SystemFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kel::systemfile {

namespace {

ErrorNumber openError(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
      return ErrorNumber::PathNotFound;
    case EMFILE:
    case ENFILE:
      return ErrorNumber::TooManyFiles;
    case ETXTBSY:
    case EBUSY:
      return ErrorNumber::PermissionDenied;
    default:
      return ErrorNumber::PathFileAccessError;
  }
}

ErrorNumber writeError(int err) {
  switch (err) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return ErrorNumber::DiskFull;
    default:
      return ErrorNumber::DeviceIOError;
  }
}

}  // namespace

int open(const std::string& nativePath, LinkRule links, std::int64_t& size) {
  // The system would take the path up to the NUL for the whole of it.
  if (nativePath.find('\0') != std::string::npos) raise(ErrorNumber::BadFileNameOrNumber);
  // Without O_NONBLOCK, the open of a FIFO or of some devices could wait for ever.
  const int flags =
      O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | (links == LinkRule::Refuse ? O_NOFOLLOW : 0);
  const Error notRegular(ErrorNumber::PathFileAccessError, u"not a regular file");
  int fd;
  do {
    fd = ::open(nativePath.c_str(), flags, 0666);
  } while (fd < 0 && errno == EINTR);
  struct stat st;
  if (fd < 0) {
    int err = errno;
    // A socket cannot be opened at all; it is no file either.
    if (err == ENXIO && ::stat(nativePath.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      throw notRegular;
    }
    raise(openError(err));
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    throw notRegular;
  }
  size = st.st_size;
  return fd;
}

std::size_t readAt(int fd, void* out, std::size_t n, std::int64_t offset) {
  for (;;) {
    ssize_t r = ::pread(fd, out, n, static_cast<off_t>(offset));
    if (r >= 0) return static_cast<std::size_t>(r);
    if (errno != EINTR) raise(ErrorNumber::DeviceIOError);
  }
}

std::size_t writeAt(int fd, const void* data, std::size_t n, std::int64_t offset,
                    ErrorNumber& error) noexcept {
  for (;;) {
    ssize_t w = ::pwrite(fd, data, n, static_cast<off_t>(offset));
    if (w > 0) return static_cast<std::size_t>(w);
    if (w < 0 && errno == EINTR) continue;
    error = writeError(w < 0 ? errno : ENOSPC);
    return 0;
  }
}

std::int64_t length(int fd) noexcept {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? st.st_size : -1;
}

void truncate(int fd, std::int64_t length) {
  int rc;
  do {
    rc = ::ftruncate(fd, static_cast<off_t>(length));
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) raise(ErrorNumber::PathFileAccessError);
}

bool close(int fd) noexcept {
  return ::close(fd) == 0 || errno == EINTR;
}

}  // namespace kel::systemfile
