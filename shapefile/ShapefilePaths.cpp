#include "kel/shapefile/ShapefilePaths.h"

#include "kel/runtime/FileSystem.h"
#include "kel/runtime/Text.h"

namespace kel {

void normaliseShapefilePath(std::u16string& basepath, std::u16string& filename) {
  if (basepath.empty() || (basepath.back() != u'\\' && basepath.back() != u'/')) basepath += u'\\';
  if (filename.size() >= 4 &&
      upperCase(std::u16string_view(filename).substr(filename.size() - 4)) == u".SHP") {
    filename.resize(filename.size() - 4);
  }
}

bool shapefileMemberExists(std::u16string_view basepath, std::u16string_view filename,
                           std::u16string_view extension) {
  std::u16string name = std::u16string(filename) + std::u16string(extension);
  std::u16string found = findFile(std::u16string(basepath) + name);
  return !found.empty() && equalsIgnoringCase(found, name);
}

}  // namespace kel
