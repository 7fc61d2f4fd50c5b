// Builds a small PolyLine shapefile in memory through the public API and prints what it holds:
// the shapes with their parts, vertices, extents and attributes, and the table's columns.

#include <cstdio>
#include <string>

#include "runtime/Text.h"
#include "shapefile/Shapefile.h"

namespace {

using namespace kel;

Ref<ShapeObject> road(std::initializer_list<std::initializer_list<std::pair<double, double>>> parts,
                      const char16_t* name, const char16_t* lanes) {
  auto shape = makeRef<ShapeObject>();
  shape->put_ShapeType(kelPolyLine);
  std::int32_t start = 0;
  for (const auto& part : parts) {
    shape->addPart(start);  // the first start, 0, is there already and is ignored
    for (auto [x, y] : part) {
      auto c = makeRef<Coordinate>();
      c->setCoordinate(x, y);
      shape->addCoord(c);
      ++start;
    }
  }
  shape->computeExtents();
  shape->get_Record()->addField([&] {
    auto f = makeRef<RecordField>();
    f->setRecordField(u"NAME", name);
    return f;
  }());
  auto f = makeRef<RecordField>();
  f->setRecordField(u"LANES", lanes);
  shape->get_Record()->addField(f);
  return shape;
}

void print(const Shapefile& file) {
  std::printf("Shapefile of type %d with %d shapes\n", file.get_ShapeType(),
              file.get_ShapeObjectCount());
  const BoundingBox& box = *file.get_BoundingBox();
  std::printf("  extents (%g, %g) - (%g, %g)\n", box.get_xMin(), box.get_yMin(), box.get_xMax(),
              box.get_yMax());
  const TableDescription& table = *file.get_TableDescription();
  for (std::int16_t i = 1; i <= table.get_DescriptorCount(); ++i) {
    Ref<TableDescriptor> d = table.getTableDescriptorByIndex(i);
    std::printf("  column %d: %s type %c width %d precision %d\n", i, toUtf8(d->get_name()).c_str(),
                static_cast<char>(d->get_fieldType()), d->get_width(), d->get_precision());
  }
  for (std::int16_t i = 1; i <= file.get_ShapeObjectCount(); ++i) {
    Ref<ShapeObject> shape = file.getShapeObject(i);
    std::printf("  shape %d: %d vertices in %d parts\n", i, shape->get_CoordinateCount(),
                shape->get_PartCount());
    for (std::int16_t p = 1; p <= shape->get_PartCount(); ++p) {
      std::printf("    part %d starts at vertex %d\n", p, shape->getPart(p));
    }
    for (std::int16_t v = 1; v <= shape->get_CoordinateCount(); ++v) {
      Ref<Coordinate> c = shape->getCoord(v);
      std::printf("    (%g, %g)\n", c->get_X(), c->get_Y());
    }
    const BoundingBox& b = *shape->get_BoundingBox();
    std::printf("    extents (%g, %g) - (%g, %g)\n", b.get_xMin(), b.get_yMin(), b.get_xMax(),
                b.get_yMax());
    const Record& record = *shape->get_Record();
    for (std::int16_t f = 1; f <= record.get_FieldCount(); ++f) {
      Ref<RecordField> field = record.getFieldByIndex(f);
      std::printf("    %s = \"%s\"\n", toUtf8(field->get_name()).c_str(),
                  toUtf8(field->get_value()).c_str());
    }
  }
}

}  // namespace

int main() {
  try {
    auto file = makeRef<Shapefile>();
    file->put_ShapeType(kelPolyLine);

    auto name = makeRef<TableDescriptor>();
    name->setTableDescriptor(u"NAME", kelFieldTypeCharacter, 20);
    auto lanes = makeRef<TableDescriptor>();
    lanes->setTableDescriptor(u"LANES", kelFieldTypeNumber, 2);
    file->get_TableDescription()->addTableDescriptor(name);
    file->get_TableDescription()->addTableDescriptor(lanes);

    file->addShapeObject(road({{{0, 0}, {2, 1}, {4, 1}}}, u"Main Street", u"2"));
    file->addShapeObject(road({{{1, 5}, {1, 3}}, {{3, 3}, {5, 2}, {6, -1}}}, u"Ring Road", u"4"));

    // The whole-file extents, from the shapes' own.
    const Collection& shapes = *file->get_ShapeObjects();
    BoundingBox& box = *file->get_BoundingBox();
    bool first = true;
    for (const Variant& item : shapes) {
      const BoundingBox& b = *item.deref<ShapeObject>().get_BoundingBox();
      if (first) {
        box.setBoundingBox(b.get_xMin(), b.get_yMin(), b.get_xMax(), b.get_yMax());
        first = false;
      }
      box.setBoundingBox(
          std::min(box.get_xMin(), b.get_xMin()), std::min(box.get_yMin(), b.get_yMin()),
          std::max(box.get_xMax(), b.get_xMax()), std::max(box.get_yMax(), b.get_yMax()));
    }
    print(*file);
    return 0;
  } catch (const kel::Error& e) {
    std::fprintf(stderr, "error %d: %s\n", e.number(), kel::toUtf8(e.description()).c_str());
    return 1;
  }
}
