#pragma once

#include <array>
#include <cstdint>

// The header of the main and index files and their record and index entries as values, their
// words in host order; MainFile.h describes where each lies.
namespace kel::format {

constexpr std::int32_t kHeaderBytes = 100;

// The 100-byte header of either file, its words in host order.
struct MainHeader {
  std::int32_t fileCode = 0;
  std::int32_t unused[5] = {};
  std::int32_t fileLength = 0;
  std::int32_t version = 0;
  std::int32_t shapeType = 0;
  double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
  double zMin = 0, zMax = 0, mMin = 0, mMax = 0;

  using Bytes = std::array<unsigned char, kHeaderBytes>;
  static MainHeader decode(const Bytes& bytes) noexcept;
  Bytes encode() const noexcept;
};

// The header before each record of the main file.
struct RecordHeader {
  std::int32_t recordNumber = 0;   // 1-based
  std::int32_t contentLength = 0;  // words

  static RecordHeader decode(const unsigned char* bytes) noexcept;
  void encode(unsigned char* bytes) const noexcept;
};

// One entry of the index file.
struct IndexEntry {
  std::int32_t offset = 0;         // words from the start of the main file
  std::int32_t contentLength = 0;  // words

  static IndexEntry decode(const unsigned char* bytes) noexcept;
  void encode(unsigned char* bytes) const noexcept;
};

}  // namespace kel::format
