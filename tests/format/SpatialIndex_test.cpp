#include "kel/format/SpatialIndex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <regex>

#include "kel/format/QuadTree.h"
#include "kel/format/SbnIndex.h"
#include "kel/format/Selection.h"
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

std::string number(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

// The records GDAL's ogrinfo -spat lists, and whether it said it used an index.
std::vector<std::int64_t> gdalIds(const std::string& shp, const std::string& name,
                                  const fmt::Box& b, bool& indexed) {
  std::string gdal =
      run("CPL_DEBUG=ON ogrinfo -ro -spat " + number(b.xMin) + " " + number(b.yMin) + " " +
          number(b.xMax) + " " + number(b.yMax) + " " + quote(shp) + " " + name + " 2>&1");
  indexed = gdal.find("Used spatial index") != std::string::npos;
  std::vector<std::int64_t> fids;
  std::regex feature("OGRFeature\\(" + name + "\\):([0-9]+)");
  for (std::sregex_iterator it(gdal.begin(), gdal.end(), feature), end; it != end; ++it) {
    fids.push_back(std::stoll((*it)[1]));
  }
  return fids;
}

void i32(std::string& s, std::int32_t v) {
  s.append(reinterpret_cast<char*>(&v), 4);
}
void be32(std::string& s, std::int32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>((v >> shift) & 0xff);
}

// ESRI's index of records with these boxes, built byte by byte from its published layout (see
// SbnIndex.h): each record in the deepest node whose half of the grid holds its box.
std::string sbnFor(const std::vector<fmt::Box>& boxes, const fmt::Box& extent) {
  const std::int32_t n = static_cast<std::int32_t>(boxes.size());
  int levels = 2;
  while (levels < 24 && n > ((1 << levels) - 1) * 8) ++levels;
  std::vector<std::vector<std::int32_t>> nodes((std::size_t{1} << levels) - 1);
  auto grid = [](double v, double lo, double hi, bool up) {
    double g = (v - lo) / (hi - lo) * 255;
    return std::clamp(static_cast<int>(up ? std::ceil(g) : std::floor(g)), 0, 255);
  };
  std::vector<std::array<int, 4>> cells;
  for (std::int32_t i = 0; i < n; ++i) {
    const fmt::Box& b = boxes[static_cast<std::size_t>(i)];
    std::array<int, 4> c = {grid(b.xMin, extent.xMin, extent.xMax, false),
                            grid(b.yMin, extent.yMin, extent.yMax, false),
                            grid(b.xMax, extent.xMin, extent.xMax, true),
                            grid(b.yMax, extent.yMin, extent.yMax, true)};
    std::array<int, 4> node = {0, 0, 255, 255};  // xMin, yMin, xMax, yMax
    std::size_t k = 0;
    for (int level = 0; level + 1 < levels; ++level) {
      const int axis = level % 2, mid = 1 + (node[axis] + node[axis + 2]) / 2;
      if (c[axis] >= mid) {
        node[axis] = mid, k = 2 * k + 1;
      } else if (c[axis + 2] < mid) {
        node[axis + 2] = mid - 1, k = 2 * k + 2;
      } else {
        break;
      }
    }
    nodes[k].push_back(i);
    cells.push_back(c);
  }
  std::string table, bins;
  std::int32_t bin = 2;
  for (const auto& ids : nodes) {
    be32(table, ids.empty() ? 0 : bin);
    be32(table, static_cast<std::int32_t>(ids.size()));
    for (std::size_t at = 0; at < ids.size(); at += 100, ++bin) {
      const std::size_t m = std::min<std::size_t>(100, ids.size() - at);
      be32(bins, bin);
      be32(bins, static_cast<std::int32_t>(4 * m));
      for (std::size_t j = at; j < at + m; ++j) {
        for (int v : cells[static_cast<std::size_t>(ids[j])]) bins += static_cast<char>(v);
        be32(bins, ids[j] + 1);
      }
    }
  }
  std::string s;
  be32(s, 9994);
  be32(s, -400);
  s.resize(24);
  be32(s, static_cast<std::int32_t>((108 + table.size() + bins.size()) / 2));
  be32(s, n);
  for (double d : {extent.xMin, extent.yMin, extent.xMax, extent.yMax, 0.0, 0.0, 0.0, 0.0}) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    for (int shift = 56; shift >= 0; shift -= 8) s += static_cast<char>((bits >> shift) & 0xff);
  }
  s.resize(100);
  be32(s, 1);
  be32(s, static_cast<std::int32_t>(table.size() / 2));
  return s + table + bins;
}

std::vector<fmt::Box> gridBoxes() {
  std::vector<fmt::Box> out;
  for (int i = 0; i < 2400; ++i) {
    double x = i / 40, y = i % 40;
    out.push_back({x, y, x + 0.8, y + 0.8});
  }
  return out;
}

const fmt::Box kGridExtent{0, 0, 59.8, 39.8};

std::vector<std::int64_t> meeting(const fmt::Box& box) {
  std::vector<std::int64_t> out;
  const std::vector<fmt::Box> all = gridBoxes();
  for (std::size_t i = 0; i < all.size(); ++i) {
    if (fmt::boxesMeet(all[i], box)) out.push_back(static_cast<std::int64_t>(i));
  }
  return out;
}

// An index file made wrong at one place, the offset a reader names, and the words that say why.
struct Malformed {
  std::string bytes;
  std::int64_t offset;
  const char* why;
};

// The sound index `name` (of three records) gives the candidates for the box quietly; each
// malformed one gives none and one finding at its offset that says why.
template <class Candidates, std::size_t N>
void expectRefused(const char* name, Candidates candidatesIn, const fmt::Box& box,
                   const std::string& sound, const std::vector<std::int64_t>& found,
                   const Malformed (&cases)[N]) {
  TempDir dir;
  const std::string path = dir.native(name);
  auto candidates = [&](const std::string& bytes, fmt::CollectingReporter& reporter) {
    dir.write(name, bytes);
    kel::ReadOnlyFile::OpenError why;
    auto file = kel::ReadOnlyFile::open(path, why);
    return candidatesIn(*file, path, box, 3, reporter);
  };
  fmt::CollectingReporter quiet;
  EXPECT_EQ(candidates(sound, quiet), found);
  EXPECT_TRUE(quiet.findings.empty());
  for (const Malformed& c : cases) {
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

    bool gdalIndexed = false;
    EXPECT_EQ(gdalIds(dir.native("f.shp"), "f", box, gdalIndexed), want);
    if (!want.empty() && want.size() < 2400) {  // GDAL walks for a box round the layer
      EXPECT_TRUE(gdalIndexed);
    }
  }
  EXPECT_EQ(reporter.count(fmt::Severity::Irregularity), 0u);
}

// Index files built byte by byte, each with one fault: the reader refuses each with the file, the
// offset and why, and never reads past what a node says it holds.
TEST(SpatialIndexTest, ACraftedIndexIsRefusedWithWhereAndWhy) {
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
  const Malformed cases[] = {
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
  expectRefused("f.qix", fmt::quadTreeCandidates, {1, 1, 2, 2}, sound, {0, 1, 2}, cases);
}

// A box query looks only at the records its index names, the .qix first and ESRI's .sbn failing
// one, and keeps what the walk keeps; an index that does not describe the layer is told once
// and the query walks. GDAL reads our hand-built .sbn and finds the same records.
TEST(SpatialIndexTest, ABoxQueryLooksOnlyAtTheRecordsItsIndexNames) {
  TempDir dir;
  writeGrid(dir.native("f"));
  const std::string qix = dir.native("f.qix"), sbn = dir.native("f.sbn");
  const std::string sound = sbnFor(gridBoxes(), kGridExtent);
  const std::string stale = sound.substr(0, 28) + std::string("\0\0\x09\x5f", 4) + sound.substr(32);
  {
    fmt::CollectingReporter heard;
    auto layer = fmt::Layer::open(dir.native("f"), heard);
    fmt::writeQuadTreeIndex(*layer);
  }
  const kel::testing::File written = dir.read("f.qix");
  const std::string soundQix(written.begin(), written.end());
  std::string staleQix = soundQix;
  staleQix[8] = 0x5f;
  struct Case {
    const char* what;
    std::optional<std::string> qix, sbn;
    bool indexed;
    const char* warning;
  } cases[] = {
      {"none", std::nullopt, std::nullopt, false, nullptr},
      {"qix", soundQix, std::nullopt, true, nullptr},
      {"qix first", soundQix, std::string("no index"), true, nullptr},
      {"sbn", std::nullopt, sound, true, nullptr},
      {"stale qix, sound sbn", staleQix, sound, true, "indexes 2399 records"},
      {"stale qix", staleQix, std::nullopt, false, "indexes 2399 records"},
      {"stale sbn", std::nullopt, stale, false, "indexes 2399 records"},
  };
  const fmt::Box boxes[] = {{10, 10, 12.5, 11.5},
                            {30.85, 0, 30.95, 40},
                            {-5, -5, 0.1, 0.1},
                            {33.3, 17.7, 33.3, 17.7},
                            {100, 100, 200, 200}};
  for (const Case& c : cases) {
    std::filesystem::remove(qix);
    std::filesystem::remove(sbn);
    if (c.qix) dir.write("f.qix", *c.qix);
    if (c.sbn) dir.write("f.sbn", *c.sbn);
    for (const fmt::Box& box : boxes) {
      SCOPED_TRACE(std::string(c.what) + " " + number(box.xMin) + " " + number(box.yMin));
      fmt::CollectingReporter heard;
      auto layer = fmt::Layer::open(dir.native("f"), heard);
      fmt::Selection s;
      s.box = box;
      fmt::SelectedRecords records(*layer, s);
      std::vector<std::int64_t> kept;
      while (records.next()) kept.push_back(records.index());
      const std::vector<std::int64_t> want = meeting(box);
      EXPECT_EQ(kept, want);
      EXPECT_EQ(records.indexed(), c.indexed);
      if (c.indexed) {
        EXPECT_LT(layer->shapes().boxesRead(), 400);  // the candidates, of 2400
      } else {
        EXPECT_EQ(layer->shapes().boxesRead(), 2400);
      }
      std::vector<std::string> told;
      for (const fmt::Finding& f : heard.findings) {
        if (f.severity != fmt::Severity::Note) told.push_back(f.sentence);
      }
      ASSERT_EQ(told.size(), c.warning ? 1u : 0u);
      if (c.warning) {
        EXPECT_NE(told[0].find(c.warning), std::string::npos) << told[0];
      }
      if (c.what == std::string("sbn")) {
        bool gdalIndexed = false;
        EXPECT_EQ(gdalIds(dir.native("f.shp"), "f", box, gdalIndexed), want);
        EXPECT_EQ(gdalIndexed, fmt::boxesMeet(box, kGridExtent));
      }
    }
  }
}

// ESRI indexes built byte by byte, each with one fault: each is refused with the file, the offset
// and why, and the records it names are never trusted.
TEST(SpatialIndexTest, ACraftedSbnIsRefusedWithWhereAndWhy) {
  const std::vector<fmt::Box> boxes = {{0, 0, 1, 1}, {9, 9, 10, 10}, {4, 4, 6, 6}};
  const std::string sound = sbnFor(boxes, {0, 0, 10, 10});
  // 3 records: 2 levels, 3 nodes, each with one record in a bin of its own. The node table at
  // 108, node k's at 108 + 8k; bin 2 (the root's) at 132, its record number at 144; bins 3 and 4
  // at 148 and 164.
  auto with = [&](std::initializer_list<std::pair<std::size_t, std::int32_t>> words) {
    std::string s = sound;
    for (auto [offset, v] : words) {
      std::string word;
      be32(word, v);
      s.replace(offset, 4, word);
    }
    return s;
  };
  std::string extra;
  be32(extra, 5);
  be32(extra, 4);
  const Malformed cases[] = {
      {with({{0, 9995}}), 0, "no header"},
      {with({{28, 4}}), 28, "indexes 4 records"},
      {with({{32, 0x7ff00000}}), 32, "extent is no box"},
      {with({{104, 13}}), 104, "26 bytes is not 8 bytes"},
      {sound.substr(0, 120), 104, "runs past the end of the file"},
      {with({{112, 4}}), 108, "4 features from bin 2"},
      {with({{116, 2}}), 132, "bin 2 belongs to node 0 and to node 1"},
      {with({{116, 1}}), 116, "node 1 has 1 features from bin 1"},
      {with({{132, 3}}), 132, "bin 3 comes where bin 2"},
      {with({{136, 404}}), 136, "808 bytes long"},
      {with({{136, 28}}), 132, "bin 2 runs past the end"},
      {with({{108, 0}, {112, 0}}), 132, "bin 2 is no node's"},
      {sound.substr(0, 150), 148, "ends inside a bin's header"},
      {sound.substr(0, 164), 164, "node 2's bins end before its 1 features"},
      {with({{144, 0}}), 144, "record 0 is none"},
      {with({{128, 2}}), 180, "node 2's bins end before its 2 features"},
      {sound + extra + "12345678", 180, "bin 5 is no node's"},
  };
  expectRefused("f.sbn", fmt::sbnCandidates, {5, 5, 5.5, 5.5}, sound, {2}, cases);
}
