#include <stdexcept>

#include "Contender.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/Shapefile.h"

namespace kelbench {

namespace {

using namespace kel;

Digest read(const std::string& dir, const std::string& stem) {
  Digest d;
  auto file = makeRef<Shapefile>();
  if (!file->readShapefile(toUtf16(dir), toUtf16(stem))) throw std::runtime_error("read failed");
  for (const Variant& item : *file->get_ShapeObjects()) {
    const ShapeObject& shape = item.deref<ShapeObject>();
    ++d.shapes;
    d.typeCodes += shape.get_ShapeType();
    const BoundingBox& box = *shape.get_BoundingBox();
    d.boxSum += box.get_xMin() + box.get_yMin() + box.get_xMax() + box.get_yMax();
    for (const Variant& part : *shape.get_Parts()) d.partStarts += part.toInt32();
    for (const Variant& vertex : *shape.get_Coordinates()) {
      const Coordinate& c = vertex.deref<Coordinate>();
      d.coordinateSum += c.get_X() + c.get_Y();
      ++d.vertices;
    }
    for (const Variant& field : *shape.get_Record()->get_Fields()) {
      d.textBytes += static_cast<long>(field.deref<RecordField>().value().size());
    }
  }
  return d;
}

Ref<RecordField> field(const char* name, const std::string& value) {
  auto f = makeRef<RecordField>();
  f->setRecordField(toUtf16(name), toUtf16(value));
  return f;
}

void write(const Workload& w, const std::string& dir, const std::string& stem) {
  auto file = makeRef<Shapefile>();
  auto type = static_cast<ShapeTypeConstants>(w.shapeType);
  file->put_ShapeType(type);
  for (const Column& c : kColumns) {
    auto column = makeRef<TableDescriptor>();
    column->setTableDescriptor(toUtf16(c.name),
                               c.type == 'C'   ? kelFieldTypeCharacter
                               : c.type == 'N' ? kelFieldTypeNumber
                                               : kelFieldTypeDate,
                               static_cast<std::uint8_t>(c.width),
                               static_cast<std::uint8_t>(c.decimals));
    file->get_TableDescription()->addTableDescriptor(column);
  }
  for (std::size_t i = 0; i < w.shapes.size(); ++i) {
    const Shape& s = w.shapes[i];
    auto shape = makeRef<ShapeObject>();
    shape->put_ShapeType(type);
    if (type != kelPoint && type != kelMultiPoint) {
      for (int start : s.parts) shape->addPart(start);
    }
    for (std::size_t v = 0; v < s.xy.size(); v += 2) {
      auto c = makeRef<Coordinate>();
      c->setCoordinate(s.xy[v], s.xy[v + 1]);
      shape->addCoord(c);
    }
    Record& record = *shape->get_Record();
    record.addField(field("NAME", w.rows[i].name));
    record.addField(field("VALUE", w.rows[i].value));
    record.addField(field("DAY", w.rows[i].day));
    file->addShapeObject(shape);
  }
  if (!file->writeShapefile(toUtf16(dir), toUtf16(stem))) throw std::runtime_error("write failed");
}

}  // namespace

const Contender kOurs{"kelShapeLib", read, write};

}  // namespace kelbench
