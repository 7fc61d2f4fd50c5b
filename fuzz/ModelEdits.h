#pragma once

#include "fuzz/FuzzBytes.h"
#include "shapefile/Shapefile.h"

namespace kel::fuzz {

// Changes the object model as a caller could, one edit after another as the bytes say: vertices,
// part starts, shapes, extents, fields, columns and types are added, removed and set, and now and
// then something is set to Nothing or an entry of the wrong class is put into a collection.
// Edits that the model refuses (an error raised, false returned) are part of the game.
void applyEdits(Shapefile& file, FuzzBytes& bytes);

}  // namespace kel::fuzz
