#include "kel/format/SpatialIndex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <regex>

#include "kel/format/QuadTree.h"
#include "support/EngineWriting.h"
#include "support/PeerTools.h"

using namespace kel::testing;

namespace {

// A grid of 60 by 40 rectangles, 0.8 wide with gaps of 0.2, record i at column i / 40 and row
// i % 40; each shape is its own box, so that a record meets a box exactly when its box does.
void writeGrid(const std::string& path) {
  const std::vector<fmt::ColumnDefinition> columns = {{"ID", 'N', 9}};
  fmt::LayerWriter writer(path, fmt::ShapeType::Polygon, columns);
  for (int i = 0; i < 2400; ++i) {
    double x = i / 40, y = i % 40;
    std::vector<fmt::XY> ring = {{x, y}, {x, y + 0.8}, {x + 0.8, y + 0.8}, {x + 0.8, y}, {x, y}};
    std::int32_t parts[] = {0};
    fmt::ShapeView v;
    v.type = fmt::ShapeType::Polygon;
    v.points = ring;
    v.parts = parts;
    std::vector<fmt::Value> row = {std::int64_t{i}};
    writer.add(v, row);
  }
  writer.close();
}

std::vector<std::int64_t> meeting(const fmt::Box& box) {
  std::vector<std::int64_t> out;
  for (int i = 0; i < 2400; ++i) {
    double x = i / 40, y = i % 40;
    if (fmt::boxesMeet({x, y, x + 0.8, y + 0.8}, box)) out.push_back(i);
  }
  return out;
}

std::string number(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

}  // namespace

// kelshp index writes the very bytes GDAL writes for the layer; the index names every record whose
// box meets a query and few others; GDAL takes our index for its -spat and finds the same records.
TEST(SpatialIndexTest, TheQuadTreeIsShapelibsAndEveryQueryFindsItsRecords) {
  TempDir dir;
  writeGrid(dir.native("f"));
  run(quote(KELSHP_PATH) + " index " + quote(dir.native("f.shp")));
  for (const char* ext : {".shp", ".shx", ".dbf"}) {
    std::filesystem::copy_file(dir.native(std::string("f") + ext),
                               dir.native(std::string("g") + ext));
  }
  run("ogrinfo -q " + quote(dir.native("g.shp")) + " -sql 'CREATE SPATIAL INDEX ON g'");
  EXPECT_EQ(dir.read("f.qix"), dir.read("g.qix"));

  const fmt::Box boxes[] = {{10, 10, 12.5, 11.5},  {-5, -5, 0.1, 0.1},      {59.5, 39.5, 70, 70},
                            {30.85, 0, 30.95, 40}, {0, 19.9, 60, 19.95},    {-1, -1, 100, 100},
                            {100, 100, 200, 200},  {33.3, 17.7, 33.3, 17.7}};
  fmt::CollectingReporter reporter;
  std::unique_ptr<fmt::Layer> layer = fmt::Layer::open(dir.native("f"), reporter);
  ASSERT_TRUE(layer);
  for (const fmt::Box& box : boxes) {
    SCOPED_TRACE(number(box.xMin) + " " + number(box.yMin));
    std::vector<std::int64_t> want = meeting(box);
    std::optional<std::vector<std::int64_t>> got = fmt::indexedCandidates(*layer, box, reporter);
    ASSERT_TRUE(got);
    EXPECT_TRUE(std::includes(got->begin(), got->end(), want.begin(), want.end()));
    if (want.size() < 100) {
      EXPECT_LT(got->size(), 400u);
    }

    std::string gdal = run("CPL_DEBUG=ON ogrinfo -ro -spat " + number(box.xMin) + " " +
                           number(box.yMin) + " " + number(box.xMax) + " " + number(box.yMax) +
                           " " + quote(dir.native("f.shp")) + " f 2>&1");
    if (!want.empty() && want.size() < 2400) {  // GDAL walks for a box round the layer
      EXPECT_NE(gdal.find("Used spatial index"), std::string::npos) << gdal;
    }
    std::vector<std::int64_t> fids;
    std::regex feature("OGRFeature\\(f\\):([0-9]+)");
    for (std::sregex_iterator it(gdal.begin(), gdal.end(), feature), end; it != end; ++it) {
      fids.push_back(std::stoll((*it)[1]));
    }
    EXPECT_EQ(fids, want);
  }
  EXPECT_EQ(reporter.count(fmt::Severity::Irregularity), 0u);
}

// Index files built byte by byte, each with one fault: the reader refuses each with the file, the
// offset and why, and never reads past what a node says it holds.
TEST(SpatialIndexTest, ACraftedIndexIsRefusedWithWhereAndWhy) {
  auto i32 = [](std::string& s, std::int32_t v) { s.append(reinterpret_cast<char*>(&v), 4); };
  auto node = [&](std::int32_t subtrees, fmt::Box b, std::vector<std::int32_t> ids,
                  std::int32_t children) {
    std::string s;
    i32(s, subtrees);
    for (double d : {b.xMin, b.yMin, b.xMax, b.yMax}) s.append(reinterpret_cast<char*>(&d), 8);
    i32(s, static_cast<std::int32_t>(ids.size()));
    for (std::int32_t id : ids) i32(s, id);
    i32(s, children);
    return s;
  };
  auto header = [&](std::int32_t count) {
    std::string s("SQT\1\1\0\0\0", 8);
    i32(s, count);
    i32(s, 2);
    return s;
  };
  const fmt::Box all{0, 0, 10, 10}, low{0, 0, 5, 5};
  const std::string child = node(0, low, {2}, 0);
  const std::string sound = header(3) + node(48, all, {0, 1}, 1) + child;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // A chain of nodes one inside the other, deeper than any tree is built.
  std::string deep = node(0, all, {}, 0);
  for (int level = 0; level <= fmt::kQuadTreeMaxDepth; ++level) {
    deep = node(static_cast<std::int32_t>(deep.size()), all, {}, 1) + deep;
  }
  std::string many = header(3) + node(0, all, {0, 1}, 0);
  std::string hundred;
  i32(hundred, 100);
  many.replace(52, 4, hundred);
  struct Case {
    std::string bytes;
    std::int64_t offset;
    const char* why;
  } cases[] = {
      {"SQX" + sound.substr(3), 0, "no quadtree header"},
      {sound.substr(0, 3) + '\3' + sound.substr(4), 3, "byte order 3"},
      {sound.substr(0, 4) + '\2' + sound.substr(5), 4, "version 2"},
      {header(4) + sound.substr(16), 8, "indexes 4 records"},
      {header(3) + node(48, all, {0, 3}, 1) + child, 60, "id 3 names no record"},
      {header(3) + node(48, all, {0, -1}, 1) + child, 60, "id -1"},
      {header(3) + node(48, all, {0, 1}, 5) + child, 64, "5 children"},
      {header(3) + node(4800, all, {0, 1}, 1) + child, 16, "run past the end"},
      {many, 16, "100 ids run past"},
      {header(3) + node(48, {0, nan, 10, 10}, {0, 1}, 1) + child, 20, "not a number"},
      {header(3) + node(96, all, {0}, 2) + node(48, low, {1}, 1) + child, 160, "fewer children"},
      {header(3) + node(96, all, {0, 1}, 1) + child + child, 116, "48 bytes before the end"},
      {sound + "x", 116, "1 bytes follow"},
      {sound.substr(0, 40), 16, "ends inside a node"},
      {header(3) + deep, 16 + 44 * fmt::kQuadTreeMaxDepth, "deeper than 64"},
  };
  TempDir dir;
  const std::string path = dir.native("f.qix");
  auto candidates = [&](const std::string& bytes, fmt::CollectingReporter& reporter) {
    dir.write("f.qix", bytes);
    kel::ReadOnlyFile::OpenError why;
    auto file = kel::ReadOnlyFile::open(path, why);
    return fmt::quadTreeCandidates(*file, path, {1, 1, 2, 2}, 3, reporter);
  };
  fmt::CollectingReporter quiet;
  EXPECT_EQ(candidates(sound, quiet), (std::vector<std::int64_t>{0, 1, 2}));
  EXPECT_TRUE(quiet.findings.empty());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    fmt::CollectingReporter reporter;
    EXPECT_FALSE(candidates(c.bytes, reporter));
    ASSERT_EQ(reporter.findings.size(), 1u);
    const fmt::Finding& f = reporter.findings.front();
    EXPECT_EQ(f.file, path);
    EXPECT_EQ(f.offset, c.offset);
    EXPECT_NE(f.sentence.find(c.why), std::string::npos) << f.sentence;
  }
}
