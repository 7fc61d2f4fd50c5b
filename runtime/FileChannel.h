#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>

namespace kel {

// What opening a file does with a symbolic link that the path's last component names. A reader
// follows it to the file it names; a writer refuses it (path/file access error), so that no link,
// dangling or not, can make it create or empty a file somewhere else.
enum class LinkRule { Follow, Refuse };

// ---- Test seam: fault injection -------------------------------------------------------------
// Lets a test make the k-th open, get, put or close of the channels fail, to walk a driver through
// every failure point. Channels opened while a plan is armed keep nothing in their buffer between
// calls, so every get and put takes the slow path, where the operations are counted. Disarmed, the
// inline fast paths are untouched and the slow paths test one flag.
class ChannelFaults {
 public:
  enum Operation { kOpen, kGet, kPut, kClose, kOperations };

  // Counts every operation from now on and fails the failAt-th (1-based) of kind `op`; a failAt
  // of 0 only counts. An open fails before the file is opened, a close after the descriptor is
  // released, a get or put before it moves anything.
  static void arm(Operation op, std::int64_t failAt) noexcept;
  static void disarm() noexcept { armed_ = false; }
  static bool armed() noexcept { return armed_; }
  // Operations of a kind counted since the plan was armed.
  static std::int64_t counted(Operation op) noexcept { return counts_[op]; }

  // For FileChannel: counts the operation and tells whether it is the one to fail.
  static bool failsNow(Operation op) noexcept;

 private:
  static inline bool armed_ = false;
  static inline Operation failOp_ = kOpen;
  static inline std::int64_t failAt_ = 0;
  static inline std::int64_t counts_[kOperations] = {};
};
// ---- end of test seam -----------------------------------------------------------------------

// One open file for raw byte access, reading and writing, through a buffer: the readers and
// writers move a few bytes at a time, and none of those moves may cost a system call.
// Positions here are 0-based byte offsets; the 1-based positions of the interface are the
// ChannelTable's business.
class FileChannel {
 public:
  static constexpr std::size_t kBufferSize = 64 * 1024;

  // Opens or creates the file at a native path, keeping an existing file's bytes; raises "bad file
  // name or number" for a path with a NUL character, "path not found" for a missing directory and
  // "path/file access error" when the file cannot be opened for reading and writing, or is a
  // symbolic link that the rule refuses.
  explicit FileChannel(const std::string& nativePath, LinkRule links = LinkRule::Follow);
  ~FileChannel();  // closes without reporting; close() is the way to hear about a failed flush

  FileChannel(const FileChannel&) = delete;
  FileChannel& operator=(const FileChannel&) = delete;

  // Reads n bytes at the current position and moves past them. When fewer than n bytes remain,
  // it raises "input past end of file" and the position stays.
  void get(void* out, std::size_t n);
  void put(const void* data, std::size_t n);

  // Little-endian values, as they lie in the files.
  template <class T>
  T get() {
    static_assert(std::is_arithmetic_v<T>);
    T value;
    if (pos_ >= bufStart_ && pos_ + std::int64_t{sizeof(T)} <= bufEnd()) {
      std::memcpy(&value, buf_.get() + (pos_ - bufStart_), sizeof(T));
      pos_ += sizeof(T);
    } else {
      get(&value, sizeof(T));
    }
    return fromLittleEndian(value);
  }
  template <class T>
  void put(T value) {
    static_assert(std::is_arithmetic_v<T>);
    value = fromLittleEndian(value);
    // Within the buffer's window a put is a copy; anything else goes the long way.
    if (pos_ >= bufStart_ && pos_ <= bufEnd() &&
        pos_ + std::int64_t{sizeof(T)} <= bufStart_ + std::int64_t{kBufferSize}) {
      auto offset = static_cast<std::size_t>(pos_ - bufStart_);
      std::memcpy(buf_.get() + offset, &value, sizeof(T));
      bufLen_ = std::max(bufLen_, offset + sizeof(T));
      dirty_ = true;
      pos_ += sizeof(T);
      size_ = std::max(size_, pos_);
    } else {
      put(&value, sizeof(T));
    }
  }

  // n little-endian values in a row, as the vertices of a record lie.
  template <class T>
  void getArray(T* out, std::size_t n) {
    get(out, n * sizeof(T));
    if constexpr (std::endian::native == std::endian::big) {
      for (std::size_t i = 0; i < n; ++i) out[i] = fromLittleEndian(out[i]);
    }
  }
  template <class T>
  void putArray(const T* values, std::size_t n) {
    if constexpr (std::endian::native == std::endian::big) {
      for (std::size_t i = 0; i < n; ++i) put(values[i]);
    } else {
      put(values, n * sizeof(T));
    }
  }

  // Empties the file; a writer that must not leave old bytes behind its new end starts with it.
  void truncate();

  void seek(std::int64_t position) noexcept { pos_ = position; }
  std::int64_t position() const noexcept { return pos_; }
  std::int64_t length() const noexcept { return size_; }

  // Writes what is buffered and closes the file. The descriptor is released even when the write
  // fails; the failure is then raised ("disk full", "device I/O error").
  void close();

 private:
  template <class T>
  static T fromLittleEndian(T value) noexcept {
    if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
      unsigned char bytes[sizeof(T)];
      std::memcpy(bytes, &value, sizeof(T));
      for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(bytes[i], bytes[sizeof(T) - 1 - i]);
      std::memcpy(&value, bytes, sizeof(T));
    }
    return value;
  }

  std::int64_t bufEnd() const noexcept { return bufStart_ + static_cast<std::int64_t>(bufLen_); }
  void flush();
  // Reads the window at `at`: up to `wanted` bytes, a whole buffer unless told otherwise.
  void fill(std::int64_t at, std::size_t wanted = kBufferSize);

  int fd_ = -1;
  std::int64_t size_ = 0;  // the file's length, counting buffered bytes not yet written
  std::int64_t pos_ = 0;
  // The buffer holds the file's bytes [bufStart_, bufStart_ + bufLen_), written or not yet.
  std::unique_ptr<unsigned char[]> buf_;
  std::int64_t bufStart_ = 0;
  std::size_t bufLen_ = 0;
  bool dirty_ = false;
  bool unbuffered_ = false;  // opened under an armed fault plan (test seam)
  // Unbuffered, no position lies in the window, so that no inline get or put goes uncounted.
  void leaveNoWindow() noexcept {
    bufStart_ = std::numeric_limits<std::int64_t>::max();
    bufLen_ = 0;
  }
};

}  // namespace kel
