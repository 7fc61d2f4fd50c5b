#include "kel/runtime/FileChannel.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "kel/runtime/Error.h"
#include "kel/runtime/SystemFile.h"

namespace kel {

void ChannelFaults::arm(Operation op, std::int64_t failAt) noexcept {
  armed_ = true;
  failOp_ = op;
  failAt_ = failAt;
  for (std::int64_t& count : counts_) count = 0;
}

bool ChannelFaults::failsNow(Operation op) noexcept {
  return armed_ && ++counts_[op] == failAt_ && op == failOp_;
}

FileChannel::FileChannel(const std::string& nativePath, LinkRule links) {
  if (ChannelFaults::failsNow(ChannelFaults::kOpen)) raise(ErrorNumber::PathFileAccessError);
  unbuffered_ = ChannelFaults::armed();
  fd_ = systemfile::open(nativePath, links, size_);
  buf_.reset(new unsigned char[kBufferSize]);
}

FileChannel::~FileChannel() {
  if (fd_ < 0) return;
  try {
    flush();
  } catch (const Error&) {
    // Nobody is left to tell; close() is the call that reports.
  }
  systemfile::close(fd_);
}

void FileChannel::get(void* out, std::size_t n) {
  if (ChannelFaults::failsNow(ChannelFaults::kGet)) raise(ErrorNumber::DeviceIOError);
  if (pos_ < 0 || pos_ > size_ || static_cast<std::uint64_t>(size_ - pos_) < n) {
    raise(ErrorNumber::InputPastEndOfFile);
  }
  auto* dst = static_cast<unsigned char*>(out);
  std::int64_t at = pos_;
  std::size_t done = 0;
  while (done < n) {
    // Unbuffered (test seam), a get reads no more than it takes.
    if (at < bufStart_ || at >= bufEnd()) fill(at, unbuffered_ ? n - done : kBufferSize);
    std::size_t k = std::min(n - done, static_cast<std::size_t>(bufEnd() - at));
    std::memcpy(dst + done, buf_.get() + (at - bufStart_), k);
    done += k;
    at += static_cast<std::int64_t>(k);
  }
  pos_ = at;
  if (unbuffered_) leaveNoWindow();  // so that the next get comes here again
}

void FileChannel::put(const void* data, std::size_t n) {
  if (ChannelFaults::failsNow(ChannelFaults::kPut)) raise(ErrorNumber::DeviceIOError);
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
  if (unbuffered_) {
    flush();
    leaveNoWindow();
  }
}

void FileChannel::flush() {
  if (!dirty_) return;
  std::size_t done = 0;
  while (done < bufLen_) {
    ErrorNumber error = ErrorNumber::DeviceIOError;
    std::size_t w = systemfile::writeAt(fd_, buf_.get() + done, bufLen_ - done,
                                        bufStart_ + static_cast<std::int64_t>(done), error);
    if (w == 0) {
      // The bytes that did not reach the file are no part of it.
      if (std::int64_t length = systemfile::length(fd_); length >= 0) size_ = length;
      bufLen_ = 0;
      dirty_ = false;
      raise(error);
    }
    done += w;
  }
  dirty_ = false;
}

void FileChannel::fill(std::int64_t at, std::size_t wanted) {
  flush();
  bufStart_ = at;
  bufLen_ = 0;
  wanted = static_cast<std::size_t>(
      std::min<std::int64_t>(static_cast<std::int64_t>(std::min(wanted, kBufferSize)), size_ - at));
  while (bufLen_ < wanted) {
    std::size_t r = systemfile::readAt(fd_, buf_.get() + bufLen_, wanted - bufLen_,
                                       bufStart_ + static_cast<std::int64_t>(bufLen_));
    if (r == 0) break;
    bufLen_ += r;
  }
  // Only a file cut short behind our back gets here; its missing bytes are not made up.
  if (bufLen_ == 0) raise(ErrorNumber::InputPastEndOfFile);
}

void FileChannel::truncate() {
  bufLen_ = 0;
  dirty_ = false;
  bufStart_ = 0;
  pos_ = 0;
  // An empty file stays as it is: on some file systems (ext4) a truncation, even of an empty
  // file, makes the close wait until the new bytes are on the disk.
  if (size_ == 0) return;
  systemfile::truncate(fd_);
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
  bool closed = systemfile::close(std::exchange(fd_, -1));
  if (failure) std::rethrow_exception(failure);
  if (ChannelFaults::failsNow(ChannelFaults::kClose)) raise(ErrorNumber::DeviceIOError);
  if (!closed) raise(ErrorNumber::DeviceIOError);
}

}  // namespace kel
