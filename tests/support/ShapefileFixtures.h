#pragma once

// Shapefiles built byte by byte, and the same built through the public members: the read,
// hostile-input, write and interop tests share one idea of a valid file.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>

#include "kel/runtime/CodePage.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/Shapefile.h"
#include "support/Bytes.h"
#include "support/TempDir.h"

namespace kel::testing {

using Pts = std::vector<std::pair<double, double>>;
using Starts = std::vector<std::int32_t>;
using Box = std::array<double, 4>;  // xMin, yMin, xMax, yMax: the order of the file header
using Fields = std::vector<std::pair<std::u16string, std::u16string>>;

inline Box boxOf(const Ref<BoundingBox>& b) {
  return {b->get_xMin(), b->get_yMin(), b->get_xMax(), b->get_yMax()};
}
inline Box extentsOf(const Pts& pts) {
  Box b{pts.at(0).first, pts[0].second, pts[0].first, pts[0].second};
  for (auto [x, y] : pts) {
    b = {std::min(b[0], x), std::min(b[1], y), std::max(b[2], x), std::max(b[3], y)};
  }
  return b;
}

// The 100-byte header that both the main and the index file open with.
inline Bytes fileHeader(std::int32_t words, std::int32_t type, const Box& box = {}) {
  Bytes b;
  b.i32be(9994).zeros(20).i32be(words).i32le(1000).i32le(type);
  for (double v : box) b.f64(v);
  return b.zeros(32);
}

// A record's content, without the record header. The counts may lie; a Point (1) holds only its
// first vertex, and a MultiPoint (8) has no part count and no part starts.
inline Bytes shapeRaw(std::int32_t type, std::int32_t parts, std::int32_t points,
                      const Starts& starts, const Pts& pts, const Box& box = {}) {
  Bytes b;
  b.i32le(type);
  if (type == 1) return b.f64(pts.at(0).first).f64(pts[0].second);
  for (double v : box) b.f64(v);
  if (type != 8) b.i32le(parts);
  b.i32le(points);
  for (std::int32_t s : starts) b.i32le(s);
  for (auto [x, y] : pts) b.f64(x).f64(y);
  return b;
}
inline Bytes shapeContent(std::int32_t type, const Pts& pts, Starts starts = {0},
                          const Box& box = {}) {
  if (type == 8) starts.clear();
  return shapeRaw(type, static_cast<std::int32_t>(starts.size()),
                  static_cast<std::int32_t>(pts.size()), starts, pts, box);
}

struct Column {
  std::string name;  // up to 11 bytes: the 10 of the name and the terminator position
  char type = 'C';
  std::uint8_t width = 1, precision = 0;
};

// A dBASE table of raw rows, deletion flag first; without columns or rows, n blank rows.
inline File dbfFile(std::int32_t n, const std::vector<Column>& cols = {},
                    std::vector<std::string> rows = {}) {
  if (cols.empty() && rows.empty()) rows.assign(static_cast<std::size_t>(n), " ");
  int recordLength = 1;
  for (const Column& c : cols) recordLength += c.width;
  Bytes b;
  b.u8(3).u8(26).u8(5).u8(17).i32le(n).i16le(static_cast<std::int16_t>(32 * cols.size() + 33));
  b.i16le(static_cast<std::int16_t>(recordLength)).zeros(20);
  for (const Column& c : cols) {
    b.text(c.name).zeros(11 - c.name.size()).u8(static_cast<std::uint8_t>(c.type)).zeros(4);
    b.u8(c.width).u8(c.precision).zeros(14);
  }
  b.u8(0x0D);
  for (const std::string& row : rows) b.text(row);
  return b.u8(0x1A).vec();
}

struct ShapefileFiles {
  File shp, shx, dbf;
};

// A consistent main and index file around the given record contents, numbered from 1.
inline ShapefileFiles shapefileOf(std::int32_t type, const std::vector<Bytes>& contents, File dbf,
                                  const Box& box = {}) {
  Bytes records, entries;
  std::int32_t offset = 50;
  for (std::size_t i = 0; i < contents.size(); ++i) {
    auto words = static_cast<std::int32_t>(contents[i].size() / 2);
    records.i32be(static_cast<std::int32_t>(i + 1)).i32be(words).append(contents[i].vec());
    entries.i32be(offset).i32be(words);
    offset += 4 + words;
  }
  auto n = static_cast<std::int32_t>(contents.size());
  return {fileHeader(offset, type, box).append(records.vec()).vec(),
          fileHeader(50 + 4 * n, type, box).append(entries.vec()).vec(), std::move(dbf)};
}

// n Point records at (1, 2) with the table given.
inline ShapefileFiles pointFiles(std::size_t n, File dbf) {
  return shapefileOf(1, std::vector<Bytes>(n, shapeContent(1, {{1, 2}})), std::move(dbf));
}

inline void putBigEndian(File& file, std::size_t at, std::int32_t value) {
  for (int i = 0; i < 4; ++i) file[at + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

// The files with one byte set; at or past the end, the file grows to hold it.
inline ShapefileFiles patched(ShapefileFiles f, File ShapefileFiles::*file, std::size_t at,
                              std::uint8_t byte) {
  (f.*file).resize(std::max((f.*file).size(), at + 1));
  (f.*file)[at] = byte;
  return f;
}

// Every finding, one a line, as describe() says it.
inline std::string describeAll(const std::vector<format::Finding>& findings) {
  std::string all;
  for (const format::Finding& f : findings) all += format::describe(f) + "\n";
  return all;
}

// Three shapes of each type, and a table of every column type with full-width values as other
// tools lay them out (0xE9 is an e acute); every box holds the true extents.
inline std::vector<std::pair<Pts, Starts>> sampleShapes(std::int32_t type) {
  if (type == kelPoint) return {{{{1, 2}}, {0}}, {{{-3.5, 4.25}}, {0}}, {{{0.5, -6}}, {0}}};
  if (type == kelMultiPoint) {
    return {{{{1, 2}, {3, 4}}, {0}}, {{{-1, -2}}, {0}}, {{{0.5, -6}, {7, 7}, {0.5, -6}}, {0}}};
  }
  // Outer rings run clockwise and holes counter-clockwise, as readers of polygons expect.
  return {{{{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}, {2, 2}, {4, 2}, {4, 4}, {2, 4}, {2, 2}},
           {0, 5}},
          {{{20, 20}, {20, 30}, {30, 20}, {20, 20}}, {0}},
          {{{5, 5}, {5, 6}, {6, 5}, {5, 5}}, {0}}};
}
inline const std::vector<Column> kSampleColumns = {
    {"NAME", 'C', 6}, {"POP", 'N', 7, 2}, {"BORN", 'D', 8}, {"OK", 'L', 1}};
inline const std::vector<std::string> kSampleRows = {
    " alpha   12.5020260305T", " b\xE9ta    -3.2519991231F", " gamma  100.0020000229T"};

inline ShapefileFiles sampleFiles(std::int32_t type) {
  std::vector<Bytes> contents;
  Pts all;
  for (const auto& [pts, starts] : sampleShapes(type)) {
    contents.push_back(shapeContent(type, pts, starts, extentsOf(pts)));
    all.insert(all.end(), pts.begin(), pts.end());
  }
  return shapefileOf(type, contents, dbfFile(3, kSampleColumns, kSampleRows), extentsOf(all));
}

inline Ref<ShapeObject> makeShape(std::int32_t type, const Pts& pts, const Starts& starts = {},
                                  const Fields& fields = {}) {
  auto shape = makeRef<ShapeObject>();
  shape->put_ShapeType(static_cast<ShapeTypeConstants>(type));
  for (auto [x, y] : pts) {
    auto c = makeRef<Coordinate>();
    c->setCoordinate(x, y);
    shape->addCoord(c);
  }
  for (std::int32_t start : starts) shape->addPart(start);
  for (const auto& [name, value] : fields) {
    auto field = makeRef<RecordField>();
    field->setRecordField(name, value);
    shape->get_Record()->addField(field);
  }
  return shape;
}

// Each shape is added under its own type and the file's type is set last, as by a caller who
// changes it afterwards: the only way to hold shapes of another type, or in a file of type 0.
inline Ref<Shapefile> makeFile(std::int32_t type, const std::vector<Ref<ShapeObject>>& shapes,
                               const std::vector<Column>& columns = {}) {
  auto file = makeRef<Shapefile>();
  for (const auto& shape : shapes) {
    file->put_ShapeType(shape->get_ShapeType());
    file->addShapeObject(shape);
  }
  file->put_ShapeType(static_cast<ShapeTypeConstants>(type));
  for (const Column& c : columns) {
    auto d = makeRef<TableDescriptor>();
    d->setTableDescriptor(toUtf16(c.name), static_cast<FieldTypeConstants>(c.type), c.width,
                          c.precision);
    file->get_TableDescription()->addTableDescriptor(d);
  }
  return file;
}

// sampleFiles(type) as a caller builds it, every box left at zero for the writer to compute.
inline Ref<Shapefile> sampleModel(std::int32_t type) {
  std::vector<Ref<ShapeObject>> shapes;
  for (const auto& [pts, starts] : sampleShapes(type)) {
    Fields fields;
    for (std::size_t k = 0, at = 1; k < kSampleColumns.size(); at += kSampleColumns[k++].width) {
      fields.emplace_back(
          toUtf16(kSampleColumns[k].name),
          ansiToText(kSampleRows[shapes.size()].substr(at, kSampleColumns[k].width)));
    }
    shapes.push_back(makeShape(type, pts, starts, fields));
  }
  return makeFile(type, shapes, kSampleColumns);
}

inline Fields fieldsOf(const Ref<Record>& r) {
  Fields fields;
  for (std::int16_t i = 1; i <= r->get_FieldCount(); ++i) {
    fields.emplace_back(r->getFieldByIndex(i)->get_name(), r->getFieldByIndex(i)->get_value());
  }
  return fields;
}
inline Pts coordsOf(const Ref<ShapeObject>& shape) {
  Pts pts;
  for (std::int16_t i = 1; i <= shape->get_CoordinateCount(); ++i) {
    pts.emplace_back(shape->getCoord(i)->get_X(), shape->getCoord(i)->get_Y());
  }
  return pts;
}
inline Starts partsOf(const Ref<ShapeObject>& shape) {
  Starts parts;
  for (std::int16_t i = 1; i <= shape->get_PartCount(); ++i) parts.push_back(shape->getPart(i));
  return parts;
}

inline void writeSet(const TempDir& dir, const ShapefileFiles& f, const std::string& stem) {
  for (auto [ext, file] : {std::pair{".shp", &f.shp}, {".shx", &f.shx}, {".dbf", &f.dbf}}) {
    dir.write(stem + ext, *file);
  }
}
inline long openFds() {
  auto fds = std::filesystem::directory_iterator("/proc/self/fd");
  return std::distance(begin(fds), end(fds));
}

// Reads the files as roads.* from a fresh directory, checking that the call, whatever its result,
// left no descriptor open and, though it opens the files for writing too, every byte as it was;
// and that it reported an error exactly when it failed, that error last and as its reason. What
// it reported goes to `told` when one is given.
inline bool readFiles(Shapefile& f, const ShapefileFiles& files,
                      format::CollectingReporter* told = nullptr) {
  TempDir dir;
  writeSet(dir, files, "roads");
  long before = openFds();
  format::CollectingReporter said;
  bool ok = f.readShapefile(dir.u16(), u"roads", said);
  EXPECT_EQ(openFds(), before) << "a file descriptor leaked";
  EXPECT_TRUE(dir.read("roads.shp") == files.shp && dir.read("roads.shx") == files.shx &&
              dir.read("roads.dbf") == files.dbf);
  std::size_t errors = said.count(format::Severity::Error);
  EXPECT_EQ(errors, ok ? 0u : 1u) << describeAll(said.findings);
  EXPECT_EQ(!f.lastFailure(), ok);
  if (errors == 1 && f.lastFailure()) {
    EXPECT_EQ(said.findings.back().severity, format::Severity::Error);
    EXPECT_EQ(format::describe(*f.lastFailure()), format::describe(said.findings.back()));
  }
  if (told != nullptr) *told = std::move(said);
  return ok;
}

inline bool writeTo(Shapefile& file, const TempDir& dir, std::u16string_view name = u"out") {
  return file.writeShapefile(dir.u16(), name);
}
// A table built here, stamped with the date bytes of a written one.
inline File withDateOf(File dbf, const File& written) {
  if (written.size() >= 4) std::copy(written.begin() + 1, written.begin() + 4, dbf.begin() + 1);
  return dbf;
}

}  // namespace kel::testing
