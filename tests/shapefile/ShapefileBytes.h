#pragma once

// Byte-exact builders for the three files of a shapefile, shared by the read tests, so that each
// test states only the bytes it is about.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "shapefile/Shapefile.h"
#include "support/Bytes.h"
#include "support/TempDir.h"

namespace kel::testing {

using File = std::vector<unsigned char>;
using Pt = std::pair<double, double>;
using Box = std::array<double, 4>;  // xMin, yMin, xMax, yMax

inline Box boxOf(const Ref<BoundingBox>& b) {
  return {b->get_xMin(), b->get_yMin(), b->get_xMax(), b->get_yMax()};
}

inline Bytes& doubles(Bytes& b, const Box& box, const std::vector<Pt>& pts = {}) {
  for (double v : box) b.f64(v);
  for (auto [x, y] : pts) b.f64(x).f64(y);
  return b;
}

// The 100-byte header that both the main and the index file open with.
inline Bytes fileHeader(std::int32_t words, std::int32_t type, Box box = {},
                        std::int32_t code = 9994, std::int32_t version = 1000) {
  Bytes b;
  return doubles(b.i32be(code).zeros(20).i32be(words).i32le(version).i32le(type), box).zeros(32);
}

// Record contents, without the record header. The raw forms take counts that may lie.
inline Bytes pointContent(double x, double y, std::int32_t type = 1) {
  return Bytes().i32le(type).f64(x).f64(y);
}
inline Bytes multiPointRaw(std::int32_t count, const std::vector<Pt>& pts, Box box = {}) {
  Bytes b;
  doubles(b.i32le(8), box).i32le(count);
  for (auto [x, y] : pts) b.f64(x).f64(y);
  return b;
}
inline Bytes multiPointContent(const std::vector<Pt>& pts, Box box = {}) {
  return multiPointRaw(static_cast<std::int32_t>(pts.size()), pts, box);
}
inline Bytes polyRaw(std::int32_t type, std::int32_t partCount, std::int32_t pointCount,
                     const std::vector<std::int32_t>& starts, const std::vector<Pt>& pts,
                     Box box = {}) {
  Bytes b;
  doubles(b.i32le(type), box).i32le(partCount).i32le(pointCount);
  for (std::int32_t s : starts) b.i32le(s);
  for (auto [x, y] : pts) b.f64(x).f64(y);
  return b;
}
inline Bytes polyContent(std::int32_t type, const std::vector<std::int32_t>& starts,
                         const std::vector<Pt>& pts, Box box = {}) {
  return polyRaw(type, static_cast<std::int32_t>(starts.size()),
                 static_cast<std::int32_t>(pts.size()), starts, pts, box);
}

struct Column {
  std::string name;  // up to 11 bytes: the 10 of the name and the terminator position
  char type = 'C';
  std::uint8_t width = 1;
  std::uint8_t precision = 0;
};

// A dBASE table; each row is given as its raw bytes, deletion flag first.
inline File dbfFile(std::int32_t count, const std::vector<Column>& cols,
                    const std::vector<std::string>& rows, std::uint8_t version = 3) {
  int recordLength = 1;
  for (const Column& c : cols) recordLength += c.width;
  Bytes b;
  b.u8(version).u8(26).u8(5).u8(17).i32le(count);
  b.i16le(static_cast<std::int16_t>(32 * cols.size() + 33));
  b.i16le(static_cast<std::int16_t>(recordLength)).zeros(20);
  for (const Column& c : cols) {
    b.text(c.name).zeros(11 - c.name.size()).u8(static_cast<std::uint8_t>(c.type)).zeros(4);
    b.u8(c.width).u8(c.precision).zeros(14);
  }
  b.u8(0x0D);
  for (const std::string& row : rows) b.text(row);
  return b.u8(0x1A).vec();
}
// A table without columns: one deletion flag a row.
inline File dbfRows(int n) {
  return dbfFile(n, {}, std::vector<std::string>(n, " "));
}

struct ShapefileFiles {
  File shp, shx, dbf;
};

// A consistent main and index file around the given record contents, numbered from 1.
inline ShapefileFiles shapefileOf(std::int32_t type, const std::vector<Bytes>& contents, File dbf,
                                  Box box = {}) {
  Bytes records, entries;
  std::int32_t offset = 50;
  for (std::size_t i = 0; i < contents.size(); ++i) {
    auto words = static_cast<std::int32_t>(contents[i].size() / 2);
    records.i32be(static_cast<std::int32_t>(i + 1)).i32be(words).append(contents[i]);
    entries.i32be(offset).i32be(words);
    offset += 4 + words;
  }
  auto n = static_cast<std::int32_t>(contents.size());
  return {fileHeader(offset, type, box).append(records),
          fileHeader(50 + 4 * n, type, box).append(entries), std::move(dbf)};
}

// Two PolyLine records and a table of two columns, every byte of it valid.
inline ShapefileFiles smallPolyLine() {
  return shapefileOf(3,
                     {polyContent(3, {0}, {{1, 2}, {3, 4}}),
                      polyContent(3, {0, 2}, {{5, 6}, {7, 8}, {9, 10}, {11, 12}})},
                     dbfFile(2, {{"NAME", 'C', 5}, {"LANES", 'N', 2}}, {" Main  2", " Side  1"}),
                     {1, 2, 11, 12});
}

inline void putBigEndian(File& file, std::size_t at, std::int32_t value) {
  for (int i = 0; i < 4; ++i) file[at + i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

inline void writeSet(const TempDir& dir, const ShapefileFiles& f,
                     const std::string& stem = "roads") {
  dir.write(stem + ".shp", f.shp);
  dir.write(stem + ".shx", f.shx);
  dir.write(stem + ".dbf", f.dbf);
}

inline long openFds() {
  auto fds = std::filesystem::directory_iterator("/proc/self/fd");
  return std::distance(begin(fds), end(fds));
}

// Reads dir/roads and checks that the call left no file descriptor open, whatever its result.
inline bool readRoads(Shapefile& f, const TempDir& dir) {
  long before = openFds();
  bool ok = f.readShapefile(std::u16string_view(dir.u16()), u"roads");
  EXPECT_EQ(openFds(), before) << "a file descriptor leaked";
  return ok;
}

// Writes the files as roads.* into a fresh directory and reads them from there. The files are
// opened for writing too, so check that reading left every byte as it was.
inline bool readFiles(Shapefile& f, const ShapefileFiles& files) {
  TempDir dir;
  writeSet(dir, files);
  bool ok = readRoads(f, dir);
  EXPECT_TRUE(dir.read("roads.shp") == files.shp && dir.read("roads.shx") == files.shx &&
              dir.read("roads.dbf") == files.dbf);
  return ok;
}

inline std::vector<Pt> coordsOf(const Ref<ShapeObject>& shape) {
  std::vector<Pt> pts;
  for (std::int16_t i = 1; i <= shape->get_CoordinateCount(); ++i) {
    pts.emplace_back(shape->getCoord(i)->get_X(), shape->getCoord(i)->get_Y());
  }
  return pts;
}
inline std::vector<std::int32_t> partsOf(const Ref<ShapeObject>& shape) {
  std::vector<std::int32_t> parts;
  for (std::int16_t i = 1; i <= shape->get_PartCount(); ++i) parts.push_back(shape->getPart(i));
  return parts;
}

}  // namespace kel::testing
