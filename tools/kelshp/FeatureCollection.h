#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "Layers.h"
#include "Projection.h"
#include "kel/format/Layer.h"
#include "kel/format/Selection.h"

namespace kelshp {

// Writes a layer as an RFC 7946 FeatureCollection, the text that `dump` prints: one Feature per
// record that the selection keeps, in file order, with the columns it asks for, its geometry (Z as the third coordinate, M in "measures", null for a null
// shape and for a record that cannot be read or shown, "kelshp:invalid" saying why) and its fields
// as typed properties, or with `raw` as the text that lies in the table; the coordinates go as
// `crs` says, which names their system in the "crs" member. The text goes to `sink`
// a feature at a time; `progress`, when given, hears how many records are done after each.
void writeFeatureCollection(kel::format::Layer& layer, Warnings& warnings, bool raw,
                            const GeoJsonCrs& crs,
                            const kel::format::Selection& selection,
                            const std::function<void(std::string_view)>& sink,
                            const std::function<void(std::int64_t)>& progress = {});

// The same on standard output; the exit status: 0, or 1 when standard output fails (said on
// standard error).
int printFeatureCollection(kel::format::Layer& layer, Warnings& warnings, bool raw,
                           const GeoJsonCrs& crs,
                           const kel::format::Selection& selection,
                           const std::function<void(std::int64_t)>& progress = {});

}  // namespace kelshp
