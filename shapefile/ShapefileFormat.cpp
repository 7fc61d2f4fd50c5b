#include "shapefile/ShapefileFormat.h"

#include "runtime/Checked.h"

namespace kel::shp {

std::int32_t multiPointContentWords(std::int32_t points) {
  return add32(mul32(kPointBytes, points), kMultiPointFixedBytes) / 2;
}

std::int32_t polyContentWords(std::int32_t parts, std::int32_t points) {
  return add32(add32(mul32(4, parts), kPolyFixedBytes), mul32(kPointBytes, points)) / 2;
}

}  // namespace kel::shp
