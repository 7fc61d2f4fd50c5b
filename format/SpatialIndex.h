#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kel/format/Layer.h"
#include "kel/format/Reporter.h"
#include "kel/format/ShapeRecord.h"

// The spatial indexes beside a layer, as a box query uses them and as `kelshp index` writes them.
namespace kel::format {

// The records of the layer that may meet `box`, ascending, as its quadtree index (.qix) names
// them, or without one that serves, ESRI's (.sbn, SbnIndex.h): every record whose box meets it is among them,
// and the caller still tests each one's own box. None when the layer has no index, or one that
// does not describe it (a count that is not the layer's, a file refused by quadTreeCandidates or
// sbnCandidates), which the reporter hears: the caller then tests every record.
std::optional<std::vector<std::int64_t>> indexedCandidates(Layer& layer, const Box& box,
                                                           Reporter& reporter);

// Writes the layer's quadtree index (.qix) beside it, in place of any other all together or not
// at all, as shapelib builds one. Throws WriteError (LayerWriter.h) when a record cannot be read
// or the file cannot be written.
void writeQuadTreeIndex(Layer& layer);

}  // namespace kel::format
