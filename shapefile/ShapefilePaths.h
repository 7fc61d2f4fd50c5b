#pragma once

#include <string>
#include <string_view>

// The path rules that both drivers share: how a directory and a file name become the stem of the
// three files, and when a member file of the set counts as present.
namespace kel {

// Ends the base path with a separator ("\" unless it ends in "\" or "/" already, so an empty base
// path becomes "\") and drops a ".shp" extension, in any letter case, from the file name. Other
// extensions stay: the name roads.dbf gives the main file roads.dbf.shp.
void normaliseShapefilePath(std::u16string& basepath, std::u16string& filename);

// Whether the file stem + extension exists as a normal file whose bare name is filename +
// extension, letter case aside. A file name with a directory part never matches.
bool shapefileMemberExists(std::u16string_view basepath, std::u16string_view filename,
                           std::u16string_view extension);

}  // namespace kel
