#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>

namespace kel {

// A file opened for reading only, read through a window that follows the reader: a reader takes
// views of its bytes and the file never holds more memory than the largest view asked for, or the
// window, whatever its size. The window starts small, so that a reader of a header or of a small
// file reads little, and doubles with every move up to its full size.
//
// Its bytes may come instead from a block in memory (a member of an archive, bytes handed in by a
// caller), which it shares: the whole block is then its window, and it reads nothing.
class ReadOnlyFile {
 public:
  static constexpr std::size_t kFirstWindow = 16 * 1024;
  static constexpr std::size_t kWindow = 256 * 1024;

  struct OpenError {
    bool missing = false;     // nothing by that name
    std::string sentence;     // what the system said
    bool notRegular = false;  // there is something, but a FIFO, socket, device or directory
  };

  // Opens the regular file at a native path (UTF-8 on Windows); null, and `error` told why, when
  // it cannot. A path with a NUL character in it names no file. Anything but a regular file is
  // refused at once ("not a regular file"): a FIFO is never waited on.
  static std::unique_ptr<ReadOnlyFile> open(const std::string& nativePath, OpenError& error);
  // A file whose bytes are the block, shared with whoever else holds it.
  static std::unique_ptr<ReadOnlyFile> inMemory(std::shared_ptr<const std::string> bytes);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  std::int64_t size() const noexcept { return size_; }
  // Whether the path names this very file still, and not another put in its place since; never
  // for a block in memory, which is at no path.
  bool isAt(const std::string& nativePath) const noexcept;

  // The bytes [offset, offset + n), fewer where the file ends, none past it: a view that stays
  // valid until the next call. Raises "device I/O error" when the system cannot read.
  std::span<const unsigned char> view(std::int64_t offset, std::size_t n) {
    if (inWindow(offset, n)) return {window(offset), n};
    return moveWindow(offset, n);
  }
  // Copies the bytes [offset, offset + n) to `dest`; false when the file ends before them. A run
  // of at least the window's size goes from the system straight to `dest`, through no window.
  bool copy(std::int64_t offset, std::size_t n, void* dest) {
    if (!inWindow(offset, n)) return copyOutside(offset, n, dest);
    if (n > 0) std::memcpy(dest, window(offset), n);
    return true;
  }

 private:
  ReadOnlyFile(int fd, std::int64_t size) noexcept : fd_(fd), size_(size) {}
  // The system's side, one per system: a descriptor open for reading, or -1 with `error` set.
  static int openForReading(const std::string& nativePath, std::int64_t& size, OpenError& error);

  const unsigned char* window(std::int64_t offset) const noexcept {
    return (memory_ ? reinterpret_cast<const unsigned char*>(memory_->data()) : buffer_.get()) +
           (offset - bufferStart_);
  }
  bool inWindow(std::int64_t offset, std::size_t n) const noexcept {
    return offset >= bufferStart_ && n <= bufferLength_ &&
           offset - bufferStart_ <= static_cast<std::int64_t>(bufferLength_ - n);
  }
  std::span<const unsigned char> moveWindow(std::int64_t offset, std::size_t n);
  bool copyOutside(std::int64_t offset, std::size_t n, void* dest);
  // Reads up to n bytes at offset into dest, fewer where the file ends.
  std::size_t readAt(std::int64_t offset, std::size_t n, unsigned char* dest);

  int fd_;  // -1 for a block in memory
  std::int64_t size_;
  std::shared_ptr<const std::string> memory_;  // the block, whole, as the window
  // The window: bytes of the file from bufferStart_, uninitialised beyond bufferLength_.
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t bufferCapacity_ = 0;
  std::size_t window_ = kFirstWindow;  // the size of the next move
  std::int64_t bufferStart_ = 0;
  std::size_t bufferLength_ = 0;
};

}  // namespace kel
