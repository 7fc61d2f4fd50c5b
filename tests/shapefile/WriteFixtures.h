#pragma once

// Builders shared by the writer tests: shapefiles made through the public members only, and the
// bytes of a main or index file header.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "shapefile/Shapefile.h"
#include "support/Bytes.h"

namespace kel::writetest {

using testing::Bytes;
using ByteVec = std::vector<unsigned char>;
using Points = std::vector<std::pair<double, double>>;
using Box = std::array<double, 4>;  // xMin, yMin, xMax, yMax: the order of the file header
using Fields = std::vector<std::pair<std::u16string, std::u16string>>;
struct Column {
  std::u16string name;
  FieldTypeConstants type;
  std::uint8_t width, precision;
};

inline Box boxOf(const Ref<BoundingBox>& b) {
  return {b->get_xMin(), b->get_yMin(), b->get_xMax(), b->get_yMax()};
}
inline void setBox(const Ref<BoundingBox>& b, const Box& v) {
  b->setBoundingBox(v[0], v[1], v[2], v[3]);
}

inline Ref<ShapeObject> makeShape(ShapeTypeConstants type, const Points& points,
                                  const std::vector<std::int32_t>& laterParts = {}) {
  auto shape = makeRef<ShapeObject>();
  shape->put_ShapeType(type);
  for (auto [x, y] : points) {
    auto c = makeRef<Coordinate>();
    c->setCoordinate(x, y);
    shape->addCoord(c);
  }
  for (std::int32_t start : laterParts) shape->addPart(start);
  return shape;
}

// Each shape is added under its own type and the file's type is set last, as by a caller who
// changes it afterwards: the only way to hold shapes in a file of type 0.
inline Ref<Shapefile> makeFile(ShapeTypeConstants fileType,
                               const std::vector<Ref<ShapeObject>>& shapes) {
  auto file = makeRef<Shapefile>();
  for (const auto& shape : shapes) {
    file->put_ShapeType(shape->get_ShapeType());
    file->addShapeObject(shape);
  }
  file->put_ShapeType(fileType);
  return file;
}

// Adds the columns, and gives the k-th shape the fields of the k-th row.
inline void addTable(Shapefile& file, const std::vector<Column>& columns,
                     const std::vector<Fields>& rows) {
  for (std::size_t k = 0; k < rows.size(); ++k) {
    Ref<Record> record = file.getShapeObject(static_cast<std::int16_t>(k + 1))->get_Record();
    for (const auto& [name, value] : rows[k]) {
      auto field = makeRef<RecordField>();
      field->setRecordField(name, value);
      record->addField(field);
    }
  }
  for (const Column& c : columns) {
    auto descriptor = makeRef<TableDescriptor>();
    descriptor->setTableDescriptor(c.name, c.type, c.width, c.precision);
    file.get_TableDescription()->addTableDescriptor(descriptor);
  }
}

inline Bytes fileHeader(std::int32_t words, std::int32_t type, const Box& box) {
  Bytes b;
  b.i32be(9994).zeros(20).i32be(words).i32le(1000).i32le(type);
  for (double v : box) b.f64(v);
  return std::move(b.zeros(32));
}

inline ByteVec slice(const ByteVec& v, std::size_t offset, std::size_t n) {
  if (offset + n > v.size()) return {};
  return {v.begin() + static_cast<std::ptrdiff_t>(offset),
          v.begin() + static_cast<std::ptrdiff_t>(offset + n)};
}

}  // namespace kel::writetest
