#include "kel/runtime/Checked.h"
#include "kel/shapefile/Shapefile.h"
#include "kel/shapefile/WriteDriver.h"

namespace kel {

namespace {

// Widens running extents to take in one vertex. Only a strictly smaller or larger value replaces
// a bound: a NaN vertex changes nothing, and of 0 and -0 the first met stays.
template <class Extents>  // WriteDriver::VertexExtents, which is the driver's own
void include(Extents& e, const Coordinate& c) {
  double x = c.get_X(), y = c.get_Y();
  e.xMin = x < e.xMin ? x : e.xMin;
  e.yMin = y < e.yMin ? y : e.yMin;
  e.xMax = x > e.xMax ? x : e.xMax;
  e.yMax = y > e.yMax ? y : e.yMax;
}

}  // namespace

// Raises what it meets; the write driver turns that into a failed write.
void WriteDriver::computeFileExtents(std::vector<VertexExtents>& perShape) {
  std::int16_t shapes = file_.get_ShapeObjectCount();
  if (shapes <= 0) return;
  ShapeTypeConstants type = file_.get_ShapeType();
  const Collection& shapeObjects = deref(file_.get_ShapeObjects());
  if (type != kelPoint) perShape.reserve(static_cast<std::size_t>(shapes));
  BoundingBox& box = deref(file_.get_BoundingBox());
  const Coordinate& first =
      deref(shapeObjects.objectAt<ShapeObject>(1).get_Coordinates()).objectAt<Coordinate>(1);
  // The bounds run in locals and reach the box however the walk ends, as if kept in it all along.
  VertexExtents file{first.get_X(), first.get_Y(), first.get_X(), first.get_Y()};
  struct Store {
    BoundingBox& box;
    const VertexExtents& e;
    ~Store() { box.setBoundingBox(e.xMin, e.yMin, e.xMax, e.yMax); }
  } store{box, file};
  loop16(1, shapes, [&](std::int16_t i) {
    const Collection& coordinates =
        deref(shapeObjects.objectAt<ShapeObject>(i).get_Coordinates());
    if (type == kelPoint) {
      include(file,
              coordinates.objectAt<Coordinate>(1));  // a point file's shape is its first vertex
      return;
    }
    std::int16_t vertices = toInt16(std::int64_t{coordinates.count()});
    // The shape's own extents start at its first vertex, as its computeExtents starts them; the
    // file's box takes in every vertex on its own, so that a NaN in one shape stays there.
    VertexExtents own{};
    if (vertices > 0) {
      const Coordinate& start = coordinates.objectAt<Coordinate>(1);
      own = {start.get_X(), start.get_Y(), start.get_X(), start.get_Y()};
    }
    // The first vertex leaves its own extents as they are, whatever it holds.
    coordinates.forEachObject<Coordinate>([&](const Coordinate& c) {
      include(file, c);
      include(own, c);
    });
    stepPastLast16(vertices);
    perShape.push_back(own);
  });
}

}  // namespace kel
