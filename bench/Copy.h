#pragma once

#include <string>

namespace kelbench {

// A copy of the layer at `source` (a path without extension) to `target`, through shapelib's
// C API in this process.
void copyWithShapelib(const std::string& source, const std::string& target);

// The same through `kelshp copy` (the format engine's reader and writer) in a child process;
// gives the child's processor time, its start included.
double kelshpCopySeconds(const std::string& source, const std::string& target);

}  // namespace kelbench
