#include "kel/runtime/ChannelTable.h"

#include "kel/runtime/Error.h"
#include "kel/runtime/FileSystem.h"

namespace kel {

namespace {

bool validNumber(std::int16_t channel) {
  return channel >= 1 && channel <= ChannelTable::kMaxChannel;
}

}  // namespace

std::int16_t ChannelTable::freeFile() const {
  for (std::int16_t n = 1; n <= kMaxChannel; ++n) {
    if (!isOpen(n)) return n;
  }
  raise(ErrorNumber::TooManyFiles);
}

void ChannelTable::open(std::int16_t channel, std::u16string_view path, LinkRule links) {
  if (!validNumber(channel)) raise(ErrorNumber::BadFileNameOrNumber);
  if (isOpen(channel)) raise(ErrorNumber::FileAlreadyOpen);
  auto file = std::make_unique<FileChannel>(nativePath(path), links);
  if (channels_.size() <= static_cast<std::size_t>(channel)) channels_.resize(channel + 1);
  channels_[channel] = std::move(file);
}

FileChannel& ChannelTable::channel(std::int16_t channel) {
  if (!isOpen(channel)) raise(ErrorNumber::BadFileNameOrNumber);
  return *channels_[channel];
}

void ChannelTable::seek(std::int16_t channel, std::int64_t position) {
  FileChannel& file = this->channel(channel);
  if (position < 1) raise(ErrorNumber::BadRecordNumber);
  file.seek(position - 1);
}

bool ChannelTable::isOpen(std::int16_t channel) const noexcept {
  return validNumber(channel) && static_cast<std::size_t>(channel) < channels_.size() &&
         channels_[channel] != nullptr;
}

void ChannelTable::close(std::int16_t channel) {
  if (!isOpen(channel)) return;
  std::unique_ptr<FileChannel> file = std::move(channels_[channel]);
  file->close();
}

}  // namespace kel
