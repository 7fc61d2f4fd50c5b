#pragma once

#include "kel/format/Layer.h"
#include "kel/format/Reporter.h"

namespace kel::format {

// Reads every record and every row of a layer, and every value, so that the reporter the layer was
// opened with hears every error and irregularity its readers find, and tells `reporter` what only
// a walk of the whole can find:
// - the index against a walk of the main file: its header's length and version, bytes behind its
//   last entry, entries that miss their records or give other lengths, entries that are too few
//   or too many;
// - each record: bytes behind its fields, a box that differs from the extents of its points, a
//   first part that does not start at point 0; and the header's extents against the records';
// - the table: columns of width 0, a header length that differs from where the descriptors end,
//   deleted rows, bytes behind the last row, a missing end-of-file mark.
// Boxes and extents are compared exactly. The reporters are usually one and the same.
void validate(Layer& layer, Reporter& reporter);

}  // namespace kel::format
