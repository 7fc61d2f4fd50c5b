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
void Shapefile::computeFileExtents(std::vector<VertexExtents>& perShape) {
  std::int16_t shapes = get_ShapeObjectCount();
  if (shapes <= 0) return;
  if (shapeType_ != kelPoint) perShape.reserve(static_cast<std::size_t>(shapes));
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
    // The shape's own extents start at its first vertex, as its computeExtents starts them; the
    // file's box takes in every vertex on its own, so that a NaN in one shape stays there.
    VertexExtents own{};
    loop16(1, vertices, [&](std::int16_t j) {
      const Coordinate& c = coordinates.objectAt<Coordinate>(j);
      include(box, c);
      if (j == 1) {
        own = {c.get_X(), c.get_Y(), c.get_X(), c.get_Y()};
      } else {
        if (own.xMin > c.get_X()) own.xMin = c.get_X();
        if (own.xMax < c.get_X()) own.xMax = c.get_X();
        if (own.yMin > c.get_Y()) own.yMin = c.get_Y();
        if (own.yMax < c.get_Y()) own.yMax = c.get_Y();
      }
    });
    perShape.push_back(own);
  });
}

}  // namespace kel
