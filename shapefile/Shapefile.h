#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kel/attributes/TableDescription.h"
#include "kel/format/Reporter.h"
#include "kel/geometry/BoundingBox.h"
#include "kel/geometry/ShapeObject.h"
#include "kel/geometry/ShapeTypeConstants.h"
#include "kel/runtime/Collection.h"
#include "kel/runtime/Ref.h"

namespace kel {

// The root object: one shapefile held in memory, with its shapes in file order, its whole-file
// extents, the shape type that the file describes, and the columns of its dBASE table. Shapes are
// accepted only when their type is set and equals the shapefile's.
class Shapefile final : public Object {
 public:
  static constexpr ClassId kClassId = ClassId::Shapefile;

  Shapefile();

  // Reads the shapefile basepath + filename (".shp", ".shx" and ".dbf") and appends its shapes to
  // those held; true when all three files were read. Writes the normalised base path and file
  // name back into the caller's strings. Raises nothing: every failure is a false result, with
  // whatever was read before it kept.
  bool readShapefile(std::u16string& basepath, std::u16string& filename);
  // The same for callers that do not want the normalised strings back.
  bool readShapefile(std::u16string_view basepath, std::u16string_view filename);
  // The same, telling `reporter` what the read finds as it goes, each finding with its file,
  // offset, record and a sentence that says what the object model does: an error for every reason
  // it refuses the files (the read fails exactly when one is told, and stops there), an
  // irregularity where it reads bytes otherwise than the format has them (part starts, records
  // that are not back to back, a type it reads no shapes of, column type letters, a header or
  // record length of the table that it does not follow). What the reporter raises is dropped,
  // and the read goes on as it would.
  bool readShapefile(std::u16string_view basepath, std::u16string_view filename,
                     format::Reporter& reporter);

  // Writes the shapefile as basepath + filename (".shp", ".shx" and ".dbf"), deleting the old
  // files first; true when all three were written. Sets the whole-file extents from the shapes
  // when they are all zero, a shape's extents when its box is all zero, completes the records
  // against the columns and sizes width-0 columns. Writes the normalised base path and file
  // name back into the caller's strings. Raises nothing: every failure is a false result.
  bool writeShapefile(std::u16string& basepath, std::u16string& filename);
  bool writeShapefile(std::u16string_view basepath, std::u16string_view filename);

  // Why the last readShapefile or writeShapefile returned false, or replaceShapefile
  // (ShapefileAtPath.h) raised: the file it concerned, the byte offset when one is known, and a
  // sentence; none after a call that succeeded. A failed read is explained by the first error it
  // reported (see the reporting readShapefile); a failed write by the error that the call caught,
  // with the file and the step it concerned.
  const std::optional<format::Finding>& lastFailure() const noexcept { return lastFailure_; }

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

  // The read that the others make (ReadDriver.h); `reporter` may be null.
  bool readShapefile(std::u16string& basepath, std::u16string& filename,
                     format::Reporter* reporter);

  // writeShapefile runs the write driver (WriteDriver.h) on the files it makes, replaceShapefile
  // (ShapefileAtPath.h) on files of its own, and sets lastFailure() as writeShapefile does.
  friend void replaceShapefile(Shapefile& file, std::string_view path);

  Ref<TableDescription> tableDescription_;
  Ref<BoundingBox> boundingBox_;
  ShapeTypeConstants shapeType_ = kelUndefined;
  Ref<Collection> shapeObjects_;

  std::optional<format::Finding> lastFailure_;
};

}  // namespace kel
