#pragma once

#include "kel/runtime/Object.h"

namespace kel {

// The extents of a shape or of a whole shapefile. A plain holder: values are stored as given,
// unordered, infinite or NaN alike, and a new box is the point box at the origin.
class BoundingBox final : public Object {
 public:
  static constexpr ClassId kClassId = ClassId::BoundingBox;

  BoundingBox() noexcept : Object(this) {}

  // Both X-then-Y pairs, minimum first: the order of the extents in a shapefile header.
  void setBoundingBox(double minX, double minY, double maxX, double maxY) noexcept {
    xMin_ = minX;
    yMin_ = minY;
    xMax_ = maxX;
    yMax_ = maxY;
  }

  double get_xMin() const noexcept { return xMin_; }
  void put_xMin(double value) noexcept { xMin_ = value; }
  double get_yMin() const noexcept { return yMin_; }
  void put_yMin(double value) noexcept { yMin_ = value; }
  double get_xMax() const noexcept { return xMax_; }
  void put_xMax(double value) noexcept { xMax_ = value; }
  double get_yMax() const noexcept { return yMax_; }
  void put_yMax(double value) noexcept { yMax_ = value; }

 private:
  double xMin_ = 0;
  double yMin_ = 0;
  double xMax_ = 0;
  double yMax_ = 0;
};

// True when no bound has been set: all four are zero (negative zero included). The writers take
// such a box as "not set" and compute it.
inline bool isAllZero(const BoundingBox& box) noexcept {
  return box.get_xMin() == 0 && box.get_xMax() == 0 && box.get_yMin() == 0 && box.get_yMax() == 0;
}

}  // namespace kel
