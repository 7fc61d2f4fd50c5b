#include "runtime/Checked.h"
#include "shapefile/Shapefile.h"

namespace kel {

namespace {

// Widens the box to take in one vertex; the box itself holds the running bounds, and only a
// strictly smaller or larger value replaces one.
void include(BoundingBox& box, const Coordinate& c) {
  if (box.get_xMin() > c.get_X()) box.put_xMin(c.get_X());
  if (box.get_yMin() > c.get_Y()) box.put_yMin(c.get_Y());
  if (box.get_xMax() < c.get_X()) box.put_xMax(c.get_X());
  if (box.get_yMax() < c.get_Y()) box.put_yMax(c.get_Y());
}

}  // namespace

// Raises what it meets; the write driver turns that into a failed write.
void Shapefile::computeFileExtents() {
  std::int16_t shapes = get_ShapeObjectCount();
  if (shapes <= 0) return;
  BoundingBox& box = deref(boundingBox_);
  const Coordinate& first =
      deref(shapeObjects_->objectAt<ShapeObject>(1).get_Coordinates()).objectAt<Coordinate>(1);
  box.setBoundingBox(first.get_X(), first.get_Y(), first.get_X(), first.get_Y());
  loop16(1, shapes, [&](std::int16_t i) {
    const Collection& coordinates =
        deref(shapeObjects_->objectAt<ShapeObject>(i).get_Coordinates());
    if (shapeType_ == kelPoint) {
      include(box,
              coordinates.objectAt<Coordinate>(1));  // a point file's shape is its first vertex
      return;
    }
    std::int16_t vertices = toInt16(std::int64_t{coordinates.count()});
    loop16(1, vertices, [&](std::int16_t j) { include(box, coordinates.objectAt<Coordinate>(j)); });
  });
}

}  // namespace kel
