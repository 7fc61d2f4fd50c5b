#pragma once

#include "kel/runtime/Object.h"

namespace kel {

// One X/Y vertex. Shapes hold their vertices as shared Coordinate objects, so a vertex changed
// by whoever holds it changes in every shape that holds it too.
class Coordinate final : public Object {
 public:
  static constexpr ClassId kClassId = ClassId::Coordinate;

  Coordinate() noexcept : Object(this) {}

  void setCoordinate(double xCoord, double yCoord) noexcept {
    x_ = xCoord;
    y_ = yCoord;
  }

  double get_X() const noexcept { return x_; }
  void put_X(double value) noexcept { x_ = value; }
  double get_Y() const noexcept { return y_; }
  void put_Y(double value) noexcept { y_ = value; }

 private:
  double x_ = 0;
  double y_ = 0;
};

// A large file holds millions of these: the header (count and class) and the two doubles, no more.
static_assert(sizeof(Coordinate) == 24);

}  // namespace kel
