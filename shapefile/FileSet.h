#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kel/runtime/ChannelTable.h"

// The three files of a shapefile as both drivers open and close them, in the order main, index,
// table; private to the shapefile layer.
namespace kel {

inline constexpr std::u16string_view kFileSetExtensions[] = {u".shp", u".shx", u".dbf"};

struct FileSetChannels {
  ChannelTable* table = nullptr;
  std::int32_t numbers[3] = {};  // the channels of .shp, .shx and .dbf, once opened

  // The open file of .shp (0), .shx (1) or .dbf (2).
  FileChannel& operator[](int i) const;

  // Opens the three on free channels; the reader follows symbolic links, the writer refuses
  // them. On a failure `failing` names the file's extension, and the error goes on.
  void open(ChannelTable& channels, const std::u16string& stem, LinkRule links,
            std::u16string_view& failing);
  // Closes the three, a failed flush being a failure, as open reports it.
  void close(std::u16string_view& failing);
  // What the failure path does: closes what is open and hears no complaint.
  void abandon() noexcept;
};

}  // namespace kel
