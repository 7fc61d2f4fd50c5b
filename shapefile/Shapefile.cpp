#include "kel/shapefile/Shapefile.h"

#include "kel/runtime/Checked.h"

namespace kel {

Shapefile::Shapefile()
    : Object(this),
      tableDescription_(makeRef<TableDescription>()),
      boundingBox_(makeRef<BoundingBox>()),
      shapeObjects_(makeRef<Collection>()) {}

bool Shapefile::accepts(const ShapeObject& shape) const noexcept {
  return shape.get_ShapeType() != kelUndefined && shape.get_ShapeType() == shapeType_;
}

std::int16_t Shapefile::get_ShapeObjectCount() const {
  return toInt16(std::int64_t{shapeObjects_->count()});
}

bool Shapefile::addShapeObject(const Ref<ShapeObject>& obj) {
  if (!accepts(deref(obj))) return false;
  shapeObjects_->addObject(obj.get());
  return true;
}

Ref<ShapeObject> Shapefile::getShapeObject(std::int16_t index) const {
  return shapeObjects_->item(index).as<ShapeObject>();
}

void Shapefile::put_ShapeObjects(const Ref<Collection>& shpObjs) {
  for (const Variant& item : deref(shpObjs)) {
    if (!accepts(item.deref<ShapeObject>())) return;
  }
  shapeObjects_ = shpObjs;
}

}  // namespace kel
