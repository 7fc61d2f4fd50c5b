// Reading through the format engine holds a small, fixed amount of memory whatever the size of
// the files. A file of 100,000 shapes and one of 512 MiB are read whole, every shape and every
// value, by kelshape_read_all in a process of its own, whose peak resident memory must stay below
// 64 MiB (kelshape_read_all measures it with getrusage). The files are made in the temporary
// directory and removed as soon as they are read.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "kel/format/ShapeRecord.h"
#include "support/PeerTools.h"

using namespace kel::testing;
namespace fmt = kel::format;

namespace {

constexpr long kPeakLimitKiB = 64 * 1024;

struct Reading {
  int status = -1;    // the reader's exit status
  std::string out;    // "records vertices values checksum"
  long peakKiB = -1;  // its peak resident memory
};

// kelshape_read_all prints the digest line, then the peak.
Reading readInOwnProcess(const std::string& shp) {
  Outcome o = execute(quote(KEL_READ_ALL) + " " + quote(shp));
  Reading r{o.status, o.out.substr(0, o.out.find('\n') + 1)};
  std::istringstream(o.out.substr(r.out.size())) >> r.peakKiB;
  return r;
}

// What the reader must report of a layer, counted as the files are made. Every coordinate and
// value is a multiple of 1/8 well below 2^50, so that the checksum is exact in any order.
struct Expected {
  long records = 0, vertices = 0, values = 0;
  double checksum = 0;
  std::string line() const {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%ld %ld %ld %.17g\n", records, vertices, values,
                  checksum);
    return buffer;
  }
};

// Writes the main and index files of `records` copies of one record, each numbered.
void writeRecords(const TempDir& dir, const std::string& stem, std::int32_t type,
                  const std::vector<unsigned char>& content, long records) {
  const auto words = static_cast<std::int32_t>(content.size() / 2);
  const std::int64_t fileWords = 50 + std::int64_t{records} * (4 + words);
  std::ofstream shp(dir.native(stem + ".shp"), std::ios::binary);
  Bytes head = fileHeader(static_cast<std::int32_t>(fileWords), type);
  shp.write(reinterpret_cast<const char*>(head.vec().data()), 100);
  Bytes index = fileHeader(static_cast<std::int32_t>(50 + 4 * records), type);
  for (long i = 0; i < records; ++i) {
    Bytes h;
    h.i32be(static_cast<std::int32_t>(i + 1)).i32be(words);
    shp.write(reinterpret_cast<const char*>(h.vec().data()), 8);
    shp.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
    index.i32be(static_cast<std::int32_t>(50 + i * (4 + words))).i32be(words);
  }
  dir.write(stem + ".shx", index.vec());
}

}  // namespace

TEST(EngineMemoryTest, ManyShapesAndHalfAGigabyteReadInLittleMemory) {
  TempDir dir;

  // 100,000 PolyLines of two parts, and a table of every column type but I.
  {
    constexpr long kShapes = 100000;
    Expected want{kShapes, 6 * kShapes, 0, 0};
    std::vector<Bytes> contents;
    std::vector<std::string> rows;
    for (long i = 0; i < kShapes; ++i) {
      Pts pts;
      for (int k = 0; k < 6; ++k) pts.emplace_back(i + k / 8.0, -i - k);
      for (auto [x, y] : pts) want.checksum += x + y;
      contents.push_back(shapeContent(3, pts, {0, 3}, extentsOf(pts)));
      char row[64];
      std::snprintf(row, sizeof row, " shape %-6ld%7ld%10.3f%04ld%02ld%02ld%c", i, i, i / 8.0,
                    1990 + i % 30, 1 + i % 12, 1 + i % 28, i % 3 == 0 ? '?' : "TF"[i % 3 - 1]);
      rows.push_back(row);
      want.values += i % 3 == 0 ? 4 : 5;  // the '?' is no value
      want.checksum += i + i / 8.0;
    }
    writeSet(dir,
             shapefileOf(3, contents,
                         dbfFile(kShapes,
                                 {{"NAME", 'C', 12},
                                  {"COUNT", 'N', 7},
                                  {"RATIO", 'F', 10, 3},
                                  {"DAY", 'D', 8},
                                  {"OK", 'L', 1}},
                                 rows)),
             "many");
    Reading r = readInOwnProcess(dir.native("many.shp"));
    std::filesystem::remove(dir.native("many.shp"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, want.line());
    EXPECT_GT(r.peakKiB, 0);
    EXPECT_LT(r.peakKiB, kPeakLimitKiB);
  }

  // 2,096 PolyLines with Z and M values, each of 8,000 vertices and 256 KB: 512 MiB, read through
  // the index and, without it, by walking the main file.
  {
    constexpr long kRecords = 2096;
    constexpr int kVertices = 8000;
    std::vector<fmt::XY> points;
    std::vector<double> z, m;
    std::int32_t part = 0;
    double recordSum = 0;
    for (int k = 0; k < kVertices; ++k) {
      points.push_back({static_cast<double>(k), k / 8.0});
      z.push_back(-k);
      m.push_back(1);
      recordSum += k + k / 8.0 - k + 1;
    }
    fmt::ShapeView v;
    v.type = fmt::ShapeType::PolyLineZ;
    v.box = {0, 0, kVertices - 1, (kVertices - 1) / 8.0};
    v.parts = std::span(&part, 1);
    v.points = points;
    v.z = z;
    v.m = m;
    v.zRange = {1.0 - kVertices, 0};
    v.mRange = {1, 1};
    std::vector<unsigned char> content;
    fmt::encodeShape(v, content);
    writeRecords(dir, "big", 13, content, kRecords);
    std::vector<std::string> ids;
    for (long i = 0; i < kRecords; ++i) ids.push_back(" " + std::to_string(1000000 + i));
    dir.write("big.dbf", dbfFile(kRecords, {{"ID", 'N', 7}}, ids));
    ASSERT_GT(std::filesystem::file_size(dir.native("big.shp")), 510u << 20);

    Expected want{kRecords, kRecords * kVertices, kRecords, kRecords * recordSum};
    for (long i = 0; i < kRecords; ++i) want.checksum += 1000000 + i;
    for (bool indexed : {true, false}) {
      SCOPED_TRACE(indexed ? "through the index" : "walking the main file");
      if (!indexed) std::filesystem::remove(dir.native("big.shx"));
      Reading r = readInOwnProcess(dir.native("big.shp"));
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, want.line());
      EXPECT_GT(r.peakKiB, 0);
      EXPECT_LT(r.peakKiB, kPeakLimitKiB);
    }
    std::filesystem::remove(dir.native("big.shp"));
  }
}
