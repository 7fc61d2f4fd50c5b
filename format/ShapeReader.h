#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "format/MainFile.h"
#include "format/Reporter.h"
#include "format/ShapeRecord.h"
#include "runtime/ReadOnlyFile.h"

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
  bool indexed() const noexcept { return shx_ != nullptr; }

  // Record i (0-based; std::out_of_range outside 0..count-1). False when its bytes are no record,
  // which the reporter hears; the view is then a Null shape. The view is valid until the next read.
  bool read(std::int64_t i, ShapeView& view);

 private:
  ShapeReader(Reporter& reporter, std::string shpPath) noexcept
      : reporter_(reporter), shpPath_(std::move(shpPath)) {}
  void report(Severity severity, std::int64_t offset, std::int64_t record, std::string sentence,
              const std::string* file = nullptr);
  bool useIndex(const std::string& shxPath, std::unique_ptr<ReadOnlyFile> shx);
  void walk();

  Reporter& reporter_;
  std::string shpPath_, shxPath_;
  std::unique_ptr<ReadOnlyFile> shp_, shx_;
  MainHeader header_;
  std::int64_t count_ = 0;
  std::vector<std::uint32_t> walked_;  // the records' offsets in words, without a sound index
  ShapeBuffer buffer_;
};

}  // namespace kel::format
