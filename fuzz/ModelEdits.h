#pragma once

#include "fuzz/FuzzBytes.h"
#include "kel/shapefile/Shapefile.h"

namespace kel::fuzz {

// Where the edits put Nothing: in a shape's record and box, the file's box and table, and an entry
// of the wrong class among the shapes, as the round trip's writer contract knows them; or, besides
// those, in every list and every item and object property that a caller can set, with entries of
// the wrong class in every list.
enum class Nothing { WhereTheWriterExpectsIt, Everywhere };

// Changes the object model as a caller could, one edit after another as the bytes say: vertices,
// part starts, shapes, extents, fields, columns and types are added, removed and set, and now and
// then something is set to Nothing or an entry of the wrong class is put into a collection.
// Edits that the model refuses (an error raised, false returned) are part of the game.
void applyEdits(Shapefile& file, FuzzBytes& bytes,
                Nothing nothing = Nothing::WhereTheWriterExpectsIt);

}  // namespace kel::fuzz
