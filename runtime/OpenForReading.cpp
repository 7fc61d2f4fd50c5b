#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "kel/runtime/ReadOnlyFile.h"

namespace kel {

int ReadOnlyFile::openForReading(const std::string& nativePath, std::int64_t& size,
                                 OpenError& error) {
  int fd;
  do {
    fd = ::open(nativePath.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    error = {errno == ENOENT, std::strerror(errno)};
    return -1;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = {false, "not a regular file"};
    return -1;
  }
  size = st.st_size;
  return fd;
}

}  // namespace kel
