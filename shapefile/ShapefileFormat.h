#pragma once

#include <array>
#include <cstdint>

// The layout of the main file (.shp) and the index file (.shx), described once for the readers
// and the writers. Both files open with the same 100-byte header; its first seven words are
// big-endian and everything from the version on is little-endian. Lengths and offsets count 16-bit
// words.
//
//   header      offset  size  order
//   fileCode         0     4  BE    always 9994
//   unused1..5       4    20  BE    zero
//   fileLength      24     4  BE    whole file in words, header included
//   version         28     4  LE    1000
//   shapeType       32     4  LE
//   xMin yMin       36    16  LE doubles
//   xMax yMax       52    16  LE doubles
//   zMin zMax       68    16  LE doubles (zero: no Z values here)
//   mMin mMax       84    16  LE doubles (zero: no M values here)
//
// The main file then holds the records back to back: an 8-byte record header (record number and
// content length in words, both BE) and the contents, whose first word is the shape type (LE):
//
//   Point       type, X, Y                                      20 bytes
//   MultiPoint  type, box (4 doubles), n, n points              40 + 16n bytes
//   PolyLine,   type, box (4 doubles), p, n, p part starts,     44 + 4p + 16n bytes
//   Polygon       n points
//
// The index file holds one 8-byte entry per record: the record's offset in the main file and its
// content length, both in words and BE.
namespace kel::shp {

constexpr std::int32_t kFileCode = 9994;
constexpr std::int32_t kVersion = 1000;
constexpr std::int32_t kHeaderBytes = 100;
constexpr std::int32_t kHeaderWords = kHeaderBytes / 2;
constexpr std::int32_t kRecordHeaderBytes = 8;
constexpr std::int32_t kIndexEntryBytes = 8;
constexpr std::int32_t kIndexEntryWords = kIndexEntryBytes / 2;
constexpr std::int32_t kPointBytes = 16;  // one X/Y pair

constexpr std::int32_t kPointContentBytes = 20;
constexpr std::int32_t kMultiPointFixedBytes = 40;  // plus 16 bytes a point
constexpr std::int32_t kPolyFixedBytes = 44;        // plus 4 a part and 16 a point
constexpr std::int32_t kRecordHeaderWords = kRecordHeaderBytes / 2;

// Content lengths in words of the three record layouts, in checked 32-bit arithmetic: a count
// that makes them overflow raises.
constexpr std::int32_t pointContentWords() noexcept {
  return kPointContentBytes / 2;
}
std::int32_t multiPointContentWords(std::int32_t points);
std::int32_t polyContentWords(std::int32_t parts, std::int32_t points);

// Reverses the four bytes of a 32-bit word: file order to host order for the big-endian words,
// and back.
constexpr std::int32_t swapBytes(std::int32_t value) noexcept {
  auto u = static_cast<std::uint32_t>(value);
  return static_cast<std::int32_t>((u >> 24) | ((u >> 8) & 0xFF00u) | ((u << 8) & 0xFF0000u) |
                                   (u << 24));
}

// The 100-byte header of either file, its words in host order.
struct ShapefileHeader {
  std::int32_t fileCode = 0;
  std::int32_t unused[5] = {};
  std::int32_t fileLength = 0;
  std::int32_t version = 0;
  std::int32_t shapeType = 0;
  double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
  double zMin = 0, zMax = 0, mMin = 0, mMax = 0;

  using Bytes = std::array<unsigned char, kHeaderBytes>;
  static ShapefileHeader decode(const Bytes& bytes) noexcept;
  Bytes encode() const noexcept;
};

// The record header that opens every record of the main file, in host order.
struct RecordHeader {
  std::int32_t recordNumber = 0;
  std::int32_t contentLength = 0;
};

}  // namespace kel::shp
