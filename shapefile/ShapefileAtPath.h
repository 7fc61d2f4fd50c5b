#pragma once

#include <string_view>

#include "kel/runtime/Ref.h"
#include "kel/shapefile/Shapefile.h"

// A shapefile named by one path, as a program names a file, rather than by the base path and file
// name of the drivers: read into a new model, or replaced by a model's files all together. The
// path is native (UTF-8), relative paths are taken from the current directory, and ".shp" at its
// end, in any letter case, is dropped. Refused before any file is touched, as a kel::Error whose
// description names the path: a path that holds a NUL character or names no file (one that ends
// in a separator or in ".shp" alone: "bad file name or number"), and a path that names a
// directory ("path/file access error").
namespace kel {

// Reads the shapefile into a new model through readShapefile, so that its files are found
// whatever the letter case of their names. A failed read raises a kel::Error whose description
// is the model's lastFailure(): "file not found" when one of the three files is missing,
// "path/file access error" for any other reason.
Ref<Shapefile> readShapefileAt(std::string_view path);

// Writes the model's .shp, .shx and .dbf files at the path (lower-case extensions) with exactly
// the bytes that writeShapefile writes, and the same changes to the model, but under temporary
// names beside the old files, which they replace only once all three are complete on the disk
// (runtime/AtomicFileSet.h): a reader finds the old layer or the new one, never a mix. With them
// go the old layer's .cpg, which would name another encoding than the table's Windows-1252, and
// its spatial indexes (.qix, .sbn, .sbx), which index the old shapes; a .prj stays.
//
// Any failure leaves the old files byte for byte and no temporary file, and raises a kel::Error
// of the failure's number whose description names the file and what failed, as the model's
// lastFailure() then does too; a success clears lastFailure().
void replaceShapefile(Shapefile& file, std::string_view path);

}  // namespace kel
