#include "kel/runtime/ReadOnlyFile.h"

#include <algorithm>
#include <cstring>

#include "kel/runtime/SystemFile.h"
#include "kel/runtime/SystemFileSet.h"

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

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::inMemory(std::shared_ptr<const std::string> bytes) {
  std::unique_ptr<ReadOnlyFile> file(
      new ReadOnlyFile(-1, bytes ? static_cast<std::int64_t>(bytes->size()) : 0));
  if (bytes) {
    file->bufferLength_ = bytes->size();
    file->memory_ = std::move(bytes);
  }
  return file;
}

bool ReadOnlyFile::isAt(const std::string& nativePath) const noexcept {
  if (fd_ < 0) return false;
  systemfileset::Identity here = systemfileset::identityOf(fd_);
  return here && systemfileset::identityAt(nativePath, true) == here;
}

ReadOnlyFile::~ReadOnlyFile() {
  if (fd_ >= 0) systemfile::close(fd_);
}

std::size_t ReadOnlyFile::readAt(std::int64_t offset, std::size_t n, unsigned char* dest) {
  if (fd_ < 0) {  // the block is the window, and nothing lies outside it
    if (offset < 0 || offset >= size_) return 0;
    n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(n), size_ - offset));
    if (n > 0) std::memcpy(dest, window(offset), n);
    return n;
  }
  std::size_t got = 0;
  while (got < n) {
    std::size_t r =
        systemfile::readAt(fd_, dest + got, n - got, offset + static_cast<std::int64_t>(got));
    if (r == 0) break;  // the file grew shorter since it was opened
    got += r;
  }
  return got;
}

std::span<const unsigned char> ReadOnlyFile::moveWindow(std::int64_t offset, std::size_t n) {
  if (offset < 0 || offset >= size_) return {};
  n = static_cast<std::size_t>(
      std::min<std::int64_t>(static_cast<std::int64_t>(n), size_ - offset));
  if (!inWindow(offset, n)) {
    std::size_t wanted = std::max(n, window_);
    window_ = std::min(2 * window_, kWindow);
    wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(wanted), size_ - offset));
    if (bufferCapacity_ < wanted) {
      // Nothing of the old window is kept, so the new one is neither copied nor cleared.
      buffer_.reset();
      bufferCapacity_ = 0;
      bufferLength_ = 0;
      buffer_.reset(new unsigned char[wanted]);
      bufferCapacity_ = wanted;
    }
    bufferLength_ = 0;
    std::size_t got = readAt(offset, wanted, buffer_.get());
    bufferStart_ = offset;
    bufferLength_ = got;
    n = std::min(n, got);
  }
  return {window(offset), n};
}

bool ReadOnlyFile::copyOutside(std::int64_t offset, std::size_t n, void* dest) {
  if (n == 0) return offset >= 0 && offset <= size_;
  if (n < kWindow) {
    std::span<const unsigned char> bytes = view(offset, n);
    if (bytes.size() < n) return false;
    std::memcpy(dest, bytes.data(), n);
    return true;
  }
  if (offset < 0 || offset > size_ || static_cast<std::int64_t>(n) > size_ - offset) return false;
  return readAt(offset, n, static_cast<unsigned char*>(dest)) == n;
}

}  // namespace kel
