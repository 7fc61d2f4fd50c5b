#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kel/runtime/ReadOnlyFile.h"

namespace kel {

int ReadOnlyFile::openForReading(const std::string& nativePath, std::int64_t& size,
                                 OpenError& error) {
  const OpenError notRegular{false, "not a regular file", true};
  // Without O_NONBLOCK, a FIFO would hold the open until a writer came.
  int fd;
  do {
    fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    int err = errno;
    struct stat st;
    // A socket cannot be opened at all; it is no file either.
    if (err != ENOENT && ::stat(nativePath.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      error = notRegular;
    } else {
      error = {err == ENOENT, std::strerror(err)};
    }
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    error = notRegular;
    return -1;
  }
  size = st.st_size;
  return fd;
}

}  // namespace kel
