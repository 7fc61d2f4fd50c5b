#pragma once

#include <cstdint>

#include "kel/attributes/Record.h"
#include "kel/geometry/BoundingBox.h"
#include "kel/geometry/Coordinate.h"
#include "kel/geometry/ShapeTypeConstants.h"
#include "kel/runtime/Collection.h"
#include "kel/runtime/Ref.h"
#include "kel/runtime/Variant.h"

namespace kel {

class ObjectArena;

// One shape record held in memory: its type, its vertices, the 0-based starts of its parts, its
// attribute record and its extents. Nothing here checks that these fit together; the extents
// change only when set or when computeExtents runs.
class ShapeObject final : public Object {
 public:
  static constexpr ClassId kClassId = ClassId::ShapeObject;

  ShapeObject();
  // A shape whose lists and box are made in the arena, as a reader makes them, with room in the
  // part list for partRoom starts.
  explicit ShapeObject(ObjectArena& arena, std::int16_t partRoom = 1);

  ShapeTypeConstants get_ShapeType() const noexcept { return shapeType_; }
  void put_ShapeType(ShapeTypeConstants type) noexcept { shapeType_ = type; }

  // Appends the caller's Coordinate itself (the same one may come twice). Returns empty.
  Variant addCoord(const Ref<Coordinate>& coord);
  // The vertex at a 1-based position; "subscript out of range" outside 1..CoordinateCount.
  Ref<Coordinate> getCoord(std::int16_t index) const;
  Ref<Collection> get_Coordinates() const noexcept { return coordinates_; }
  void putref_Coordinates(Ref<Collection> coordinates) noexcept {
    coordinates_ = std::move(coordinates);
  }

  // Appends a part start; 0 is ignored, since every shape starts its first part at 0 already.
  // Returns empty.
  Variant addPart(std::int32_t part);
  std::int32_t getPart(std::int16_t index) const;
  Ref<Collection> get_Parts() const noexcept { return parts_; }
  void putref_Parts(Ref<Collection> parts) noexcept { parts_ = std::move(parts); }

  // A shape's own first record is made when first asked for: a reader replaces it at once.
  Ref<Record> get_Record() const {
    if (!recordSet_) {
      record_ = makeRef<Record>();
      recordSet_ = true;
    }
    return record_;
  }
  void put_Record(Ref<Record> record) noexcept {
    record_ = std::move(record);
    recordSet_ = true;
  }

  Ref<BoundingBox> get_BoundingBox() const noexcept { return boundingBox_; }
  void put_BoundingBox(Ref<BoundingBox> box) noexcept { boundingBox_ = std::move(box); }

  std::int32_t get_CoordinateCount() const;
  std::int32_t get_PartCount() const;

  // Overwrites the box with the extents of the vertices (only the first, for a Point), keeping a
  // bound that an equal value would replace. Walks positions with a 16-bit counter, so a shape of
  // more than 32766 vertices ends in an overflow error. Returns empty.
  Variant computeExtents();

  // The Record property, late-bound: the table reader hands records over by name.
  Variant getLateBound(std::u16string_view name) const;
  void putLateBound(std::u16string_view name, const Variant& value);

 private:
  Ref<Collection> coordinates_;
  Ref<Collection> parts_;
  mutable Ref<Record> record_;
  Ref<BoundingBox> boundingBox_;
  ShapeTypeConstants shapeType_ = kelUndefined;
  mutable bool recordSet_ = false;
};

}  // namespace kel
