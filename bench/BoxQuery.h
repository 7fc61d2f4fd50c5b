#pragma once

#include <string>

namespace kelbench {

// `kelbench --box-query DIR`: a box query with and without a spatial index, beside GDAL's.
int boxQuery(const std::string& dir);

}  // namespace kelbench
