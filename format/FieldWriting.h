#pragma once

#include <optional>
#include <string>

#include "kel/format/DbaseFile.h"
#include "kel/format/Value.h"
#include "kel/runtime/TextEncoder.h"

// How values become the bytes of their columns, the other way from decodeValue:
//
//   column  takes                   written as                               null
//   C       text (UTF-8)            its bytes in the table's encoding,       blanks
//                                   left-aligned, blank-padded
//   N, F    integer, double         decimal digits with the column's         blanks
//                                   decimals, right-aligned; or in exponent
//                                   form (below)
//   L       bool                    T or F                                   ?
//   D       Date                    YYYYMMDD                                 blanks
//
// Nothing is cut or changed silently: a value that its column cannot hold is refused with a
// sentence that names it, unless the caller asked for cutting, which cuts text after its last
// whole character that fits and writes a number too wide as asterisks (a value dBASE readers
// take for none). A number is rounded to the column's decimals, which is what the column says.
// A number too wide for that goes in exponent form, with the fewest significant digits that read
// back as the very number the decimals make (1.62381982381e+09 in F 19.11), when the column is one
// of reals (decimals, or wider than 18) and that form fits; a column of integers takes none, as
// GDAL reads those up to the first character that is no digit (1e+05 as 1).
namespace kel::format {

// Why the writer cannot write columns of this descriptor (a letter other than C, N, F, L, D; a
// width of 0, above 254, not 1 for L or 8 for D; decimals in a column other than N or F, or too
// many to leave room for a digit and the point); none when it can.
std::optional<std::string> unwritableColumn(const FieldDescriptor& column);

// Writes the value into `field`, the column's width in bytes; or leaves it and says why the value
// cannot go there.
std::optional<std::string> encodeField(const FieldDescriptor& column, const Value& value,
                                       TextEncoder& text, bool cut, std::string& field);

}  // namespace kel::format
