#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kel {

// A file opened for reading only, read through a window that follows the reader: a reader takes
// views of its bytes and the file never holds more memory than the largest view asked for, or the
// window, whatever its size.
class ReadOnlyFile {
 public:
  static constexpr std::size_t kWindow = 256 * 1024;

  struct OpenError {
    bool missing = false;  // nothing by that name
    std::string sentence;  // what the system said
  };

  // Opens the regular file at a native path (UTF-8 on Windows); null, and `error` told why, when
  // it cannot. A path with a NUL character in it names no file.
  static std::unique_ptr<ReadOnlyFile> open(const std::string& nativePath, OpenError& error);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  std::int64_t size() const noexcept { return size_; }

  // The bytes [offset, offset + n), fewer where the file ends, none past it: a view that stays
  // valid until the next call. Raises "device I/O error" when the system cannot read.
  std::span<const unsigned char> view(std::int64_t offset, std::size_t n);

 private:
  ReadOnlyFile(int fd, std::int64_t size) noexcept : fd_(fd), size_(size) {}
  // The system's side, one per system: a descriptor open for reading, or -1 with `error` set.
  static int openForReading(const std::string& nativePath, std::int64_t& size, OpenError& error);

  int fd_;
  std::int64_t size_;
  std::vector<unsigned char> buffer_;
  std::int64_t bufferStart_ = 0;
  std::size_t bufferLength_ = 0;
};

}  // namespace kel
