#pragma once

#include <cstdint>
#include <string_view>

#include "kel/format/Reporter.h"

namespace kel {

// What Shapefile::readShapefile makes of the files basepath + filename (.shp, .shx and .dbf), told
// as findings instead of done, each sentence saying what the object model does:
// - an Error for every reason it refuses them: a missing file, a main or index header it cannot
//   take, records it cannot read one behind the other (a null shape, a type it does not read, too
//   many points or parts, fields past the end), 32,767 shapes or more, a table whose row count
//   differs from the shape count, whose descriptors never end or whose rows are missing, more than
//   32,767 columns. The read returns false exactly when one is reported, provided the files can be
//   opened for reading and writing.
// - an Irregularity where it reads bytes otherwise than the format has them: part starts, records
//   that are not back to back, a type it reads no shapes of, column type letters, a header or
//   record length of the table that it does not follow.
// `held` is the number of shapes the Shapefile holds before the read; the table's rows must count
// them too. Nothing is raised for the files' bytes or names, nor when the system fails to read
// them (that is an error too); only memory can run out.
void checkReadContract(std::u16string_view basepath, std::u16string_view filename,
                       format::Reporter& reporter, std::int32_t held = 0);

}  // namespace kel
