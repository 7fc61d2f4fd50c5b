#include "kel/geometry/ShapeObject.h"

#include "kel/runtime/Checked.h"
#include "kel/runtime/ObjectArena.h"
#include "kel/runtime/Text.h"

namespace kel {

namespace {

struct Point {
  double x = 0;
  double y = 0;
};

// An entry that holds no object counts as the origin.
Point pointAt(const Collection& coordinates, std::int32_t index) {
  Object* object = coordinates.peek(index);
  if (object == nullptr) return {};
  const Coordinate* c = objectCast<Coordinate>(object);
  if (c == nullptr) raise(ErrorNumber::TypeMismatch);
  return {c->get_X(), c->get_Y()};
}

}  // namespace

ShapeObject::ShapeObject()
    : Object(this),
      coordinates_(makeRef<Collection>()),
      parts_(makeRef<Collection>()),
      boundingBox_(makeRef<BoundingBox>()) {
  // The first part's start is there from the beginning, as a 16-bit integer.
  parts_->add(Variant(std::int16_t{0}));
}

ShapeObject::ShapeObject(ObjectArena& arena, std::int16_t partRoom)
    : Object(this),
      coordinates_(arena.make<Collection>()),
      parts_(arena.make<Collection>()),
      boundingBox_(arena.make<BoundingBox>()) {
  parts_->reserveValues(partRoom);
  parts_->add(Variant(std::int16_t{0}));
}

Variant ShapeObject::addCoord(const Ref<Coordinate>& coord) {
  deref(coordinates_).addObject(coord.get());
  return {};
}

Ref<Coordinate> ShapeObject::getCoord(std::int16_t index) const {
  return deref(coordinates_).item(index).as<Coordinate>();
}

Variant ShapeObject::addPart(std::int32_t part) {
  if (part != 0) deref(parts_).add(Variant(part));
  return {};
}

std::int32_t ShapeObject::getPart(std::int16_t index) const {
  return deref(parts_).item(index).toInt32();
}

std::int32_t ShapeObject::get_CoordinateCount() const {
  return deref(coordinates_).count();
}

std::int32_t ShapeObject::get_PartCount() const {
  return deref(parts_).count();
}

Variant ShapeObject::computeExtents() {
  const Collection& coordinates = deref(coordinates_);
  BoundingBox& box = deref(boundingBox_);
  if (shapeType_ == kelPoint) {
    Point p = pointAt(coordinates, 1);
    box.setBoundingBox(p.x, p.y, p.x, p.y);
    return {};
  }
  if (coordinates.count() > 0) {
    Point p = pointAt(coordinates, 1);
    box.setBoundingBox(p.x, p.y, p.x, p.y);
  }
  // The box holds the running bounds; only a strictly smaller or larger value replaces one.
  std::int16_t n = toInt16(std::int64_t{coordinates.count()});
  loop16(2, n, [&](std::int16_t i) {
    Point p = pointAt(coordinates, i);
    if (box.get_xMin() > p.x) box.put_xMin(p.x);
    if (box.get_xMax() < p.x) box.put_xMax(p.x);
    if (box.get_yMin() > p.y) box.put_yMin(p.y);
    if (box.get_yMax() < p.y) box.put_yMax(p.y);
  });
  return {};
}

Variant ShapeObject::getLateBound(std::u16string_view name) const {
  if (equalsIgnoringCase(name, u"Record")) return Variant(get_Record());
  raiseNoSuchMember();
}

void ShapeObject::putLateBound(std::u16string_view name, const Variant& value) {
  if (!equalsIgnoringCase(name, u"Record")) raiseNoSuchMember();
  put_Record(value.as<Record>());
}

}  // namespace kel
