#include "runtime/ReadOnlyFile.h"

#include <algorithm>

#include "runtime/SystemFile.h"

namespace kel {

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::open(const std::string& nativePath, OpenError& error) {
  if (nativePath.find('\0') != std::string::npos) {
    error = {false, "the path contains a NUL character"};
    return nullptr;
  }
  std::int64_t size = 0;
  int fd = openForReading(nativePath, size, error);
  if (fd < 0) return nullptr;
  return std::unique_ptr<ReadOnlyFile>(new ReadOnlyFile(fd, size));
}

ReadOnlyFile::~ReadOnlyFile() {
  systemfile::close(fd_);
}

std::span<const unsigned char> ReadOnlyFile::view(std::int64_t offset, std::size_t n) {
  if (offset < 0 || offset >= size_) return {};
  n = static_cast<std::size_t>(
      std::min<std::int64_t>(static_cast<std::int64_t>(n), size_ - offset));
  bool inside =
      offset >= bufferStart_ && offset + static_cast<std::int64_t>(n) <=
                                    bufferStart_ + static_cast<std::int64_t>(bufferLength_);
  if (!inside) {
    std::size_t wanted = std::max(n, kWindow);
    wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(wanted), size_ - offset));
    if (buffer_.size() < wanted) buffer_.resize(wanted);
    std::size_t got = 0;
    while (got < wanted) {
      std::size_t r = systemfile::readAt(fd_, buffer_.data() + got, wanted - got,
                                         offset + static_cast<std::int64_t>(got));
      if (r == 0) break;  // the file grew shorter since it was opened
      got += r;
    }
    bufferStart_ = offset;
    bufferLength_ = got;
    n = std::min(n, got);
  }
  return {buffer_.data() + (offset - bufferStart_), n};
}

}  // namespace kel
