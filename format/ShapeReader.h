#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kel/format/MainHeader.h"
#include "kel/format/Reporter.h"
#include "kel/format/ShapeRecord.h"
#include "kel/runtime/ReadOnlyFile.h"

namespace kel::format {

// Reads the records of a main file, through its index file when there is a sound one and by
// walking the main file when not. Records come as views over a buffer that the next read reuses,
// so that memory does not grow with the file. Offsets up to the 32-bit word limit (8 GiB) and
// record counts up to 2^32 - 1 are read.
class ShapeReader {
 public:
  // Opens the main file and, when shxPath is not empty, its index. Null when the main file cannot
  // be read at all; the reporter has heard why. A file that the caller has opened already may be
  // handed in beside its path, and is then taken rather than opened again.
  static std::unique_ptr<ShapeReader> open(const std::string& shpPath, const std::string& shxPath,
                                           Reporter& reporter,
                                           std::unique_ptr<ReadOnlyFile> shp = nullptr,
                                           std::unique_ptr<ReadOnlyFile> shx = nullptr);

  const MainHeader& header() const noexcept { return header_; }
  ShapeType type() const noexcept { return static_cast<ShapeType>(header_.shapeType); }
  std::int64_t count() const noexcept { return count_; }
  // Whether records are found through the index file.
  bool indexed() const noexcept { return indexed_; }
  const std::string& path() const noexcept { return shpPath_; }
  // Who hears what the reader finds: the layer's reporter.
  Reporter& reporter() const noexcept { return reporter_; }

  // Record i (0-based; std::out_of_range outside 0..count-1). False when its bytes are no record,
  // which the reporter hears; the view is then a Null shape. The view is valid until the next read.
  bool read(std::int64_t i, ShapeView& view);
  // How many records read() has decoded, vertices and all.
  std::int64_t decoded() const noexcept { return decoded_; }

  // Record i's own box as its first bytes give it, read without its vertices: a point's is the
  // point. `null` for a Null shape; no box as well when those bytes cannot be had (read() says
  // why).
  struct RecordBox {
    bool null = false;
    std::optional<Box> box;
  };
  RecordBox recordBox(std::int64_t i);
  // How many records recordBox() has looked at.
  std::int64_t boxesRead() const noexcept { return boxesRead_; }

  // Where the last record read lies: its offset in the main file and its content length in bytes,
  // each -1 when its record header could not be read.
  struct Place {
    std::int64_t offset = -1;
    std::int64_t contentLength = -1;
  };
  const Place& place() const noexcept { return place_; }

  // The index file as it stands, whether or not records are found through it: its path, its
  // header (none when it has no whole one), its length and its whole entries.
  const std::string& indexPath() const noexcept { return shxPath_; }
  const std::optional<MainHeader>& indexHeader() const noexcept { return indexHeader_; }
  std::int64_t indexSize() const noexcept { return shx_ ? shx_->size() : 0; }
  std::int64_t indexEntryCount() const noexcept { return indexEntries_; }
  // Entry i (0-based; std::out_of_range outside 0..indexEntryCount-1).
  IndexEntry indexEntry(std::int64_t i);

  // The records' offsets in words, found by walking the main file from record header to record
  // header. When the records are found through the index, the first call walks, and the reporter
  // hears what the walk finds.
  const std::vector<std::uint32_t>& walked();

 private:
  ShapeReader(Reporter& reporter, std::string shpPath) noexcept
      : reporter_(reporter), shpPath_(std::move(shpPath)) {}
  void report(Severity severity, std::int64_t offset, std::int64_t record, std::string sentence,
              const std::string* file = nullptr);
  bool useIndex(const std::string& shxPath, std::unique_ptr<ReadOnlyFile> shx);
  void walk();
  // Where record i's header lies in the main file, and the content length in bytes that the index
  // gives (-1 without one).
  std::int64_t offsetOf(std::int64_t i, std::int64_t& indexedLength);

  Reporter& reporter_;
  std::string shpPath_, shxPath_;
  std::unique_ptr<ReadOnlyFile> shp_, shx_;
  MainHeader header_;
  std::optional<MainHeader> indexHeader_;
  std::int64_t indexEntries_ = 0;
  bool indexed_ = false;
  std::int64_t count_ = 0;
  bool walkDone_ = false;
  std::vector<std::uint32_t> walked_;  // the records' offsets in words, as the walk found them
  Place place_;
  std::int64_t decoded_ = 0, boxesRead_ = 0;
  ShapeBuffer buffer_;
};

}  // namespace kel::format
