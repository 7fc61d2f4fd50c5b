#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "kel/runtime/FileChannel.h"

namespace kel {

// Numbered file channels, as the drivers use them: ask for a free number, open a path on it, move
// bytes through it, close it. A driver call owns one table, so channels never leak between calls;
// whatever is still open when the table goes is closed then.
class ChannelTable {
 public:
  static constexpr std::int16_t kMaxChannel = 511;

  // The lowest channel number not in use; "too many files" when every number is taken.
  std::int16_t freeFile() const;

  // Opens the file that a Windows path names on the channel (see FileSystem.h for the mapping),
  // creating it when missing. "Bad file name or number" for a number outside 1..511 or a path
  // with a NUL character, "file already open" when the channel is in use, and the open errors of
  // FileChannel.
  void open(std::int16_t channel, std::u16string_view path, LinkRule links = LinkRule::Follow);

  // The open file of a channel; "bad file name or number" when the channel is not open.
  FileChannel& channel(std::int16_t channel);

  // Moves a channel to a 1-based byte position, so that the next get or put starts there;
  // "bad record number" below 1.
  void seek(std::int16_t channel, std::int64_t position);

  bool isOpen(std::int16_t channel) const noexcept;

  // Closes a channel, reporting a failed flush; closing a channel that is not open does nothing.
  void close(std::int16_t channel);

 private:
  std::vector<std::unique_ptr<FileChannel>> channels_;  // index = channel number
};

}  // namespace kel
