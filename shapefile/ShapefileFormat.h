#pragma once

#include <cstdint>

#include "format/MainFile.h"

// The object model's view of the main and index files, whose layout format/MainFile.h and
// format/ShapeRecord.h describe: the record layouts it reads and writes (Point, MultiPoint,
// PolyLine and Polygon without Z or M) and their lengths in its checked 32-bit arithmetic.
//
//   Point       type, X, Y                                      20 bytes
//   MultiPoint  type, box (4 doubles), n, n points              40 + 16n bytes
//   PolyLine,   type, box (4 doubles), p, n, p part starts,     44 + 4p + 16n bytes
//   Polygon       n points
namespace kel::shp {

using format::kFileCode;
using format::kHeaderBytes;
using format::kIndexEntryBytes;
using format::kRecordHeaderBytes;
using format::kVersion;
constexpr std::int32_t kHeaderWords = kHeaderBytes / 2;
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

using ShapefileHeader = format::MainHeader;

using RecordHeader = format::RecordHeader;

}  // namespace kel::shp
