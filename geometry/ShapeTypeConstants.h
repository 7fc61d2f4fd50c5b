#pragma once

#include <cstdint>

namespace kel {

// The ESRI shape-type codes of the shapes the library handles. A variable of this type may hold
// any 32-bit value: the setters store whatever they are given.
enum ShapeTypeConstants : std::int32_t {
  kelUndefined = 0,
  kelPoint = 1,
  kelPolyLine = 3,
  kelPolygon = 5,
  kelMultiPoint = 8,
};

}  // namespace kel
