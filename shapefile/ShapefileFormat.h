#pragma once

#include <cstdint>

#include "kel/format/MainFile.h"

// The object model's view of the main and index files, whose layout format/MainFile.h and
// format/ShapeRecord.h describe: the header and record header it reads, in the words that the
// files count in.
namespace kel::shp {

using format::kFileCode;
constexpr std::int32_t kHeaderWords = format::kHeaderBytes / 2;
constexpr std::int32_t kIndexEntryWords = format::kIndexEntryBytes / 2;
constexpr std::int32_t kPointBytes = 16;  // one X/Y pair

using ShapefileHeader = format::MainHeader;

using RecordHeader = format::RecordHeader;

}  // namespace kel::shp
