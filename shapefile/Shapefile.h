#pragma once

#include <cstdint>

#include "attributes/TableDescription.h"
#include "geometry/BoundingBox.h"
#include "geometry/ShapeObject.h"
#include "geometry/ShapeTypeConstants.h"
#include "runtime/Collection.h"
#include "runtime/Ref.h"

namespace kel {

// The root object: one shapefile held in memory, with its shapes in file order, its whole-file
// extents, the shape type that the file describes, and the columns of its dBASE table. Shapes are
// accepted only when their type is set and equals the shapefile's.
class Shapefile final : public Object {
 public:
  static constexpr ClassId kClassId = ClassId::Shapefile;

  Shapefile();

  // The number of shapes, in 16 bits: more than 32767 is an overflow error.
  std::int16_t get_ShapeObjectCount() const;
  // Appends the caller's shape when its type is not kelUndefined and equals the shapefile's;
  // false otherwise. The whole-file extents are not touched.
  bool addShapeObject(const Ref<ShapeObject>& obj);
  // The shape at a 1-based position; "subscript out of range" outside 1..ShapeObjectCount.
  Ref<ShapeObject> getShapeObject(std::int16_t index) const;

  Ref<Collection> get_ShapeObjects() const noexcept { return shapeObjects_; }
  // Takes the caller's collection when every entry would pass addShapeObject; otherwise keeps the
  // held one and reports nothing.
  void put_ShapeObjects(const Ref<Collection>& shpObjs);

  ShapeTypeConstants get_ShapeType() const noexcept { return shapeType_; }
  void put_ShapeType(ShapeTypeConstants iType) noexcept { shapeType_ = iType; }

  Ref<BoundingBox> get_BoundingBox() const noexcept { return boundingBox_; }
  void put_BoundingBox(Ref<BoundingBox> bbox) noexcept { boundingBox_ = std::move(bbox); }

  Ref<TableDescription> get_TableDescription() const noexcept { return tableDescription_; }
  void put_TableDescription(Ref<TableDescription> td) noexcept {
    tableDescription_ = std::move(td);
  }

 private:
  bool accepts(const ShapeObject& shape) const noexcept;

  Ref<TableDescription> tableDescription_;
  Ref<BoundingBox> boundingBox_;
  ShapeTypeConstants shapeType_ = kelUndefined;
  Ref<Collection> shapeObjects_;
};

}  // namespace kel
