#include "fuzz/ModelEdits.h"

#include <exception>

namespace kel::fuzz {

namespace {

constexpr int kMaxEdits = 64;

ShapeObject* pickShape(Shapefile& file, FuzzBytes& bytes) {
  Collection& shapes = deref(file.get_ShapeObjects());
  if (shapes.count() == 0) return nullptr;
  const Variant& item = shapes.item(static_cast<std::int32_t>(bytes.below(shapes.count())) + 1);
  return item.isObject() ? objectCast<ShapeObject>(item.object()) : nullptr;
}

TableDescriptor* pickColumn(Shapefile& file, FuzzBytes& bytes) {
  Ref<TableDescription> table = file.get_TableDescription();
  if (!table) return nullptr;
  Collection& columns = deref(table->get_TableDescriptors());
  if (columns.count() == 0) return nullptr;
  return &columns.item(static_cast<std::int32_t>(bytes.below(columns.count())) + 1)
              .deref<TableDescriptor>();
}

// An index into a collection, now and then one past either end.
std::int16_t pickIndex(const Collection& items, FuzzBytes& bytes) {
  return static_cast<std::int16_t>(bytes.below(static_cast<std::uint32_t>(items.count()) + 2));
}

ShapeTypeConstants pickType(FuzzBytes& bytes) {
  static constexpr std::int32_t kTypes[] = {kelPoint,     kelPolyLine, kelPolygon,  kelMultiPoint,
                                            kelUndefined, 11,          kelPolyLine, kelPolygon};
  std::uint8_t b = bytes.byte();
  return static_cast<ShapeTypeConstants>(b < 248 ? kTypes[b % 8] : bytes.int32());
}

std::int32_t pickPart(FuzzBytes& bytes) {
  std::uint8_t b = bytes.byte();
  return b < 240 ? b % 40 : bytes.int32();
}

Ref<Coordinate> newCoordinate(FuzzBytes& bytes) {
  auto c = makeRef<Coordinate>();
  double x = bytes.number();
  c->setCoordinate(x, bytes.number());
  return c;
}

void editShape(Shapefile& file, FuzzBytes& bytes, std::uint32_t edit) {
  ShapeObject* shape = pickShape(file, bytes);
  if (shape == nullptr) return;
  Collection& coords = deref(shape->get_Coordinates());
  Collection& parts = deref(shape->get_Parts());
  switch (edit) {
    case 0:
      shape->addCoord(newCoordinate(bytes));
      break;
    case 1:  // the same vertex held twice, or by two shapes
      if (ShapeObject* other = pickShape(file, bytes); other && other->get_CoordinateCount() > 0) {
        shape->addCoord(other->getCoord(1));
      }
      break;
    case 2:
      coords.remove(pickIndex(coords, bytes));
      break;
    case 3:
      shape->addPart(pickPart(bytes));
      break;
    case 4:
      parts.remove(pickIndex(parts, bytes));
      break;
    case 5:
      if (bytes.byte() < 64) {
        deref(shape->get_BoundingBox()).setBoundingBox(0, 0, 0, 0);
      } else {
        double x0 = bytes.number(), y0 = bytes.number(), x1 = bytes.number();
        deref(shape->get_BoundingBox()).setBoundingBox(x0, y0, x1, bytes.number());
      }
      break;
    case 6:
      shape->put_ShapeType(pickType(bytes));
      break;
    case 7: {
      auto field = makeRef<RecordField>();
      std::u16string name = bytes.text(12);
      field->setRecordField(name, bytes.text(300));
      deref(shape->get_Record()).addField(field);
      break;
    }
    case 8: {
      Record& record = deref(shape->get_Record());
      record.removeFieldByIndex(pickIndex(deref(record.get_Fields()), bytes));
      break;
    }
    case 9: {
      Record& record = deref(shape->get_Record());
      std::u16string name =
          deref(record.getFieldByIndex(pickIndex(deref(record.get_Fields()), bytes))).get_name();
      record.setField(name, bytes.text(300));
      break;
    }
  }
}

void editShapes(Shapefile& file, FuzzBytes& bytes, std::uint32_t edit) {
  Collection& shapes = deref(file.get_ShapeObjects());
  if (edit == 0) {
    auto shape = makeRef<ShapeObject>();
    shape->put_ShapeType(bytes.byte() < 224 ? file.get_ShapeType() : pickType(bytes));
    for (std::uint32_t k = bytes.below(6); k > 0; --k) shape->addCoord(newCoordinate(bytes));
    file.addShapeObject(shape);
  } else if (edit == 1) {
    shapes.remove(pickIndex(shapes, bytes));
  } else if (edit == 2) {
    file.put_ShapeType(pickType(bytes));
  } else if (bytes.byte() < 96) {
    deref(file.get_BoundingBox()).setBoundingBox(0, 0, 0, 0);
  } else {
    double x0 = bytes.number(), y0 = bytes.number(), x1 = bytes.number();
    deref(file.get_BoundingBox()).setBoundingBox(x0, y0, x1, bytes.number());
  }
}

void editColumns(Shapefile& file, FuzzBytes& bytes, std::uint32_t edit) {
  static constexpr std::int32_t kFieldTypes[] = {'C', 'D', 'L', 'N', 'C', 'N', 'c', 'F'};
  Ref<TableDescription> table = file.get_TableDescription();
  if (!table) return;
  if (edit == 0) {
    auto column = makeRef<TableDescriptor>();
    std::u16string name = bytes.text(14);
    std::uint8_t b = bytes.byte();
    auto type = static_cast<FieldTypeConstants>(b < 248 ? kFieldTypes[b % 8] : bytes.int32());
    std::uint8_t w = bytes.byte();
    std::uint8_t width = w < 192 ? w % 12 : bytes.byte();
    column->setTableDescriptor(name, type, width, bytes.below(4));
    table->addTableDescriptor(column);
  } else if (edit == 1) {
    table->removeTableDescriptorByIndex(pickIndex(deref(table->get_TableDescriptors()), bytes));
  } else if (TableDescriptor* column = pickColumn(file, bytes)) {
    std::uint8_t b = bytes.byte();
    if (b < 128) {
      column->put_width(b < 64 ? 0 : bytes.byte());
    } else if (b < 192) {
      column->put_name(bytes.text(14));  // may repeat another column's name
    } else {
      column->put_fieldType(static_cast<FieldTypeConstants>(bytes.int32() % 300));
    }
  }
}

// Nothing where an object belongs, and objects where they do not.
void editOddly(Shapefile& file, FuzzBytes& bytes) {
  ShapeObject* shape = pickShape(file, bytes);
  switch (bytes.below(6)) {
    case 0:
      if (shape) shape->put_Record(nullptr);
      break;
    case 1:
      if (shape) shape->put_BoundingBox(nullptr);
      break;
    case 2:
      file.put_BoundingBox(nullptr);
      break;
    case 3:
      file.get_ShapeObjects()->add(bytes.byte() < 128 ? Variant(makeRef<Coordinate>())
                                                      : Variant(std::int32_t{1}));
      break;
    case 4:
      file.put_TableDescription(bytes.byte() < 128 ? nullptr : makeRef<TableDescription>());
      break;
    case 5:  // two shapes share one record
      if (ShapeObject* other = pickShape(file, bytes); shape && other) {
        other->put_Record(shape->get_Record());
      }
      break;
  }
}

// Nothing in each list and item of the model that editOddly leaves alone, and entries of a class
// that the list does not take.
void editEverywhere(Shapefile& file, FuzzBytes& bytes) {
  ShapeObject* shape = pickShape(file, bytes);
  Ref<Record> record = shape ? shape->get_Record() : nullptr;
  Ref<TableDescription> table = file.get_TableDescription();
  switch (bytes.below(12)) {
    case 0:
      if (shape) shape->putref_Coordinates(nullptr);
      break;
    case 1:
      if (shape) shape->putref_Parts(nullptr);
      break;
    case 2:  // a vertex that is Nothing
      if (shape) deref(shape->get_Coordinates()).add(Variant(nullptr));
      break;
    case 3:  // a part start that is Nothing, or text
      if (shape) {
        deref(shape->get_Parts())
            .add(bytes.byte() < 128 ? Variant(nullptr) : Variant(bytes.text(3)));
      }
      break;
    case 4:
      if (record) record->putref_Fields(nullptr);
      break;
    case 5:
      if (record) deref(record->get_Fields()).add(Variant(nullptr));
      break;
    case 6:
      if (table) table->putref_TableDescriptors(nullptr);
      break;
    case 7:
      if (table) deref(table->get_TableDescriptors()).add(Variant(nullptr));
      break;
    case 8:  // a shape that is Nothing
      deref(file.get_ShapeObjects()).add(Variant(nullptr));
      break;
    case 9:
      file.put_ShapeObjects(nullptr);  // refused
      break;
    case 10:  // a list of another shape's, shared
      if (ShapeObject* other = pickShape(file, bytes); shape && other) {
        shape->putref_Parts(other->get_Coordinates());
      }
      break;
    case 11: {  // an object of a class that the list does not take
      Ref<Collection> lists[] = {
          shape ? shape->get_Coordinates() : nullptr, shape ? shape->get_Parts() : nullptr,
          record ? record->get_Fields() : nullptr, table ? table->get_TableDescriptors() : nullptr};
      Ref<Collection> list = lists[bytes.below(4)];
      if (list) list->add(Variant(makeRef<RecordField>()));
      if (list && bytes.byte() < 128) list->add(Variant(makeRef<Coordinate>()));
      break;
    }
  }
}

}  // namespace

void applyEdits(Shapefile& file, FuzzBytes& bytes, Nothing nothing) {
  for (int n = 0; n < kMaxEdits && !bytes.empty(); ++n) {
    try {
      std::uint32_t edit = bytes.below(nothing == Nothing::Everywhere ? 19 : 18);
      if (edit < 10) {
        editShape(file, bytes, edit);
      } else if (edit < 14) {
        editShapes(file, bytes, edit - 10);
      } else if (edit < 17) {
        editColumns(file, bytes, edit - 14);
      } else if (edit < 18) {
        editOddly(file, bytes);
      } else {
        editEverywhere(file, bytes);
      }
    } catch (const std::exception&) {
      // The model refused the edit, as it may; the next one goes on.
    }
  }
}

}  // namespace kel::fuzz
