#pragma once

#include <cstdint>

#include "kel/format/MainHeader.h"

// The layout of the main file (.shp) and the index file (.shx), described once for readers,
// writers and checks. Both files open with the same 100-byte header; its first seven words are
// big-endian and everything from the version on is little-endian. Lengths and offsets count
// 16-bit words.
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
// The main file then holds the records back to back: an 8-byte record header (the 1-based record
// number and the content length in words, both BE) and the contents, whose first word is the
// shape type (LE); ShapeRecord.h lays out the contents. The index file holds one 8-byte entry a
// record: the record's offset in the main file and its content length, both in words and BE.
namespace kel::format {

constexpr std::int32_t kFileCode = 9994;
constexpr std::int32_t kVersion = 1000;
constexpr std::int32_t kRecordHeaderBytes = 8;
constexpr std::int32_t kIndexEntryBytes = 8;

// Where the header's words lie, in bytes from its start, and where a record header's content
// length lies, behind its record number.
constexpr std::int32_t kFileLengthAt = 24;
constexpr std::int32_t kVersionAt = 28;
constexpr std::int32_t kShapeTypeAt = 32;
constexpr std::int32_t kBoxAt = 36;     // xMin, yMin, xMax, yMax
constexpr std::int32_t kRangesAt = 68;  // zMin, zMax, mMin, mMax
constexpr std::int32_t kContentLengthAt = 4;

}  // namespace kel::format
