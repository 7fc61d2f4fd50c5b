#include "kel/shapefile/FileSet.h"

#include <exception>

#include "kel/runtime/Checked.h"

namespace kel {

FileChannel& FileSetChannels::operator[](int i) const {
  return table->channel(toInt16(std::int64_t{numbers[i]}));
}

void FileSetChannels::open(ChannelTable& channels, const std::u16string& stem, LinkRule links,
                           std::u16string_view& failing) {
  table = &channels;
  for (int i = 0; i < 3; ++i) {
    failing = kFileSetExtensions[i];
    // Each free number is asked for after the previous file was opened, so the three differ.
    numbers[i] = channels.freeFile();
    channels.open(toInt16(std::int64_t{numbers[i]}), stem + std::u16string(failing), links);
  }
}

void FileSetChannels::close(std::u16string_view& failing) {
  for (int i = 0; i < 3; ++i) {
    failing = kFileSetExtensions[i];
    table->close(toInt16(std::int64_t{numbers[i]}));
  }
}

void FileSetChannels::abandon() noexcept {
  if (table == nullptr) return;
  for (std::int32_t channel : numbers) {
    try {
      table->close(toInt16(std::int64_t{channel}));
    } catch (const std::exception&) {
      // The failure path reports false whatever a close says.
    }
  }
}

}  // namespace kel
