#include "kel/format/LayerWriter.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <bit>
#include <cmath>
#include <csignal>
#include <functional>
#include <set>

#include "kel/format/FieldWriting.h"
#include "kel/format/Layer.h"
#include "kel/format/Validator.h"
#include "kel/runtime/AtomicFileSet.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/ShapefileAtPath.h"
#include "support/EngineWriting.h"

using namespace kel::testing;
using kel::FileSetFaults;

namespace {

template <class T>
std::vector<T> vec(std::span<const T> s) {
  return {s.begin(), s.end()};
}

std::vector<std::uint64_t> bitsOf(std::span<const fmt::XY> points) {
  std::vector<std::uint64_t> bits;
  for (const fmt::XY& p : points) {
    bits.push_back(std::bit_cast<std::uint64_t>(p.x));
    bits.push_back(std::bit_cast<std::uint64_t>(p.y));
  }
  return bits;
}

struct LayerWriterTest : ::testing::Test {
  TempDir dir;
  std::string path(const std::string& name = "f") const { return dir.native(name); }

  // An old layer to be replaced, alone in the directory: a Point layer with a .prj and a spatial
  // index beside it, and without a .cpg file, which the new layer adds.
  DirectoryPicture oldLayer() {
    for (const auto& entry : std::filesystem::directory_iterator(dir.str())) {
      std::filesystem::remove_all(entry.path());
    }
    fmt::WriteOptions o;
    o.projection = "old";
    writeLayer(path(), fmt::ShapeType::Point, engineRecords(fmt::ShapeType::Point), o);
    dir.write("f.qix", std::string("old index"));
    std::filesystem::remove(dir.native("f.cpg"));
    return pictureOf(dir);
  }
};

// The range of values that are measures, as the headers hold it: 0 to 0 for none.
fmt::Range rangeOf(const std::vector<double>& values, bool measures) {
  std::vector<double> kept;
  for (double v : values) {
    if (!measures || v >= fmt::kNoMeasureBelow) kept.push_back(v);
  }
  if (kept.empty()) return {};
  return {*std::min_element(kept.begin(), kept.end()), *std::max_element(kept.begin(), kept.end())};
}

}  // namespace

TEST_F(LayerWriterTest, EveryTypeAndColumnReadsBackThroughTheEngine) {
  for (fmt::ShapeType type : fmt::kShapeTypes) {
    const auto code = static_cast<std::int32_t>(type);
    for (std::string encoding : {"UTF-8", "CP1252"}) {
      SCOPED_TRACE(std::to_string(code) + " " + encoding);
      std::vector<EngineRecord> records = engineRecords(type);
      fmt::WriteOptions options;
      options.encoding = encoding;
      if (code == 0) {
        for (EngineRecord& r : records) r = {fmt::ShapeType::Null, {}, {}, {}, {}, {}, r.row};
      }
      writeLayer(path(), type, records, options);
      // The same records as plain arrays make the same files.
      {
        fmt::LayerWriter arrays(path("g"), type, kEngineColumns, options);
        for (const EngineRecord& r : records) {
          std::vector<double> x, y;
          for (const fmt::XY& p : r.points) x.push_back(p.x), y.push_back(p.y);
          arrays.add(fmt::ShapeArrays{x, y, r.z, r.m, r.parts, r.partTypes}, r.row);
        }
        arrays.close();
      }
      for (const char* ext : {".shp", ".shx", ".dbf"}) {
        EXPECT_EQ(dir.read(std::string("g") + ext), dir.read(std::string("f") + ext)) << ext;
      }
      File cpg = dir.read("f.cpg");
      EXPECT_EQ(std::string(cpg.begin(), cpg.end()), encoding == "UTF-8" ? "UTF-8" : "1252");
      EXPECT_EQ(dir.read("f.dbf").at(29), encoding == "UTF-8" ? 0x00 : 0x57);

      // Regular to the validator: index, boxes, extents, table, end mark.
      fmt::CollectingReporter reporter;
      auto layer = fmt::Layer::open(path("f.shp"), reporter);
      ASSERT_TRUE(layer);
      fmt::validate(*layer, reporter);
      EXPECT_EQ(reporter.count(fmt::Severity::Error) + reporter.count(fmt::Severity::Irregularity),
                0u);
      EXPECT_EQ(layer->encoding(), encoding);
      EXPECT_FALSE(layer->projection());
      ASSERT_EQ(layer->count(), 3);
      std::vector<double> xs, ys, zs, ms;
      fmt::TableReader& table = *layer->table();
      for (std::int64_t i = 0; i < 3; ++i) {
        const EngineRecord& want = records[static_cast<std::size_t>(i)];
        fmt::ShapeView got;
        ASSERT_TRUE(layer->shapes().read(i, got));
        EXPECT_EQ(got.type, want.type);
        EXPECT_EQ(bitsOf(got.points), bitsOf(want.points));
        EXPECT_EQ(vec(got.parts), want.parts);
        EXPECT_EQ(vec(got.partTypes), want.partTypes);
        EXPECT_EQ(vec(got.z), want.z);
        EXPECT_EQ(vec(got.m), want.m);
        std::vector<double> x, y;
        for (const fmt::XY& p : want.points) x.push_back(p.x), y.push_back(p.y);
        if (got.points.size() > 1) {  // a point's box and ranges are its own values
          fmt::Range bx = rangeOf(x, false), by = rangeOf(y, false);
          EXPECT_EQ(std::tuple(got.box.xMin, got.box.yMin, got.box.xMax, got.box.yMax),
                    std::tuple(bx.min, by.min, bx.max, by.max));
          EXPECT_EQ(std::pair(got.zRange.min, got.zRange.max),
                    std::pair(rangeOf(want.z, false).min, rangeOf(want.z, false).max));
          EXPECT_EQ(std::pair(got.mRange.min, got.mRange.max),
                    std::pair(rangeOf(want.m, true).min, rangeOf(want.m, true).max));
        }
        xs.insert(xs.end(), x.begin(), x.end());
        ys.insert(ys.end(), y.begin(), y.end());
        zs.insert(zs.end(), want.z.begin(), want.z.end());
        ms.insert(ms.end(), want.m.begin(), want.m.end());
        fmt::RowView row = table.read(i);
        for (std::size_t c = 0; c < want.row.size(); ++c) {
          EXPECT_EQ(table.value(row, c), want.row[c]) << "column " << c;
        }
      }
      const fmt::MainHeader& h = layer->shapes().header();
      fmt::Range x = rangeOf(xs, false), y = rangeOf(ys, false);
      fmt::Range z = rangeOf(zs, false), m = rangeOf(ms, true);
      EXPECT_EQ(std::tuple(h.xMin, h.yMin, h.xMax, h.yMax), std::tuple(x.min, y.min, x.max, y.max));
      EXPECT_EQ(std::tuple(h.zMin, h.zMax, h.mMin, h.mMax), std::tuple(z.min, z.max, m.min, m.max));
    }
  }
  // Through the system's converter: Greek in ISO-8859-7, a name of five letters in five bytes,
  // and a letter the encoding lacks refused.
  const std::string athens = "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1";
  const std::vector<fmt::ColumnDefinition> greek = {
      {"\xCE\x9F\xCE\x9D\xCE\x9F\xCE\x9C\xCE\x91", 'C', 5}};
  fmt::WriteOptions iso;
  iso.encoding = "ISO-8859-7";
  {
    fmt::LayerWriter writer(path(), fmt::ShapeType::Null, greek, iso);
    std::vector<fmt::Value> row = {athens};
    writer.add(fmt::ShapeView{}, row);
    row[0] = std::string("\xC3\x86");
    EXPECT_THROW(writer.add(fmt::ShapeView{}, row), fmt::WriteError);
    writer.close();
  }
  File cpg = dir.read("f.cpg");
  EXPECT_EQ(std::string(cpg.begin(), cpg.end()), "88597");
  fmt::CollectingReporter reporter;
  auto layer = fmt::Layer::open(path(), reporter);
  ASSERT_EQ(layer->count(), 1);
  EXPECT_EQ(layer->table()->columns()[0].name, greek[0].name);
  EXPECT_EQ(layer->table()->read(0).bytes, "\xC1\xE8\xDE\xED\xE1");
  EXPECT_EQ(layer->table()->value(layer->table()->read(0), 0), fmt::Value(athens));

  // An M type given no M values holds "no measure"; a Z type holds none.
  std::vector<fmt::ColumnDefinition> none;
  for (auto type : {fmt::ShapeType::PolyLineM, fmt::ShapeType::PolyLineZ}) {
    std::vector<EngineRecord> records = engineRecords(type);
    records[0].m.clear();
    for (EngineRecord& r : records) r.row.clear();
    writeLayer(path(), type, records, {}, none);
    layer = fmt::Layer::open(path(), reporter);
    fmt::ShapeView got;
    ASSERT_TRUE(layer->shapes().read(0, got));
    if (type == fmt::ShapeType::PolyLineZ) {
      EXPECT_TRUE(got.m.empty());
    } else {
      ASSERT_EQ(got.m.size(), 10u);
      for (double m : got.m) EXPECT_LT(m, fmt::kNoMeasureBelow);
    }
    EXPECT_EQ(layer->table()->columns().size(), 0u);
  }
}

// Each refusal names the file, the record or row and the column; the writer takes the next
// record as if the refused one had not been offered, and the old layer stays as it was.
TEST_F(LayerWriterTest, ALayerReadDefinesAWriterOfTheSameLayer) {
  fmt::WriteOptions options;
  options.encoding = "Windows-1252";
  options.projection = "GEOGCS[\"x\"]";
  std::vector<EngineRecord> records = engineRecords(fmt::ShapeType::PolygonZ);
  writeLayer(path("a.SHP"), fmt::ShapeType::PolygonZ, records, options);
  fmt::CollectingReporter reporter;
  std::unique_ptr<fmt::Layer> a = fmt::Layer::open(path("a"), reporter);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->shapeType(), fmt::ShapeType::PolygonZ);
  fmt::LayerDefinition definition = fmt::definitionOf(*a);
  ASSERT_EQ(definition.columns.size(), kEngineColumns.size());
  for (std::size_t c = 0; c < kEngineColumns.size(); ++c) {
    const fmt::ColumnDefinition &want = kEngineColumns[c], &got = definition.columns[c];
    EXPECT_EQ(std::tie(got.name, got.type, got.width, got.decimals),
              std::tie(want.name, want.type, want.width, want.decimals));
  }
  EXPECT_EQ(definition.options.encoding, "CP1252");
  EXPECT_EQ(definition.options.projection, options.projection);

  fmt::LayerWriter copy(path("b"), definition);
  fmt::ShapeView v;
  for (std::int64_t i = 0; i < a->count(); ++i) {
    a->shapes().read(i, v);
    fmt::RowView row = a->table()->read(i);
    std::vector<fmt::Value> values;
    for (std::size_t c = 0; c < definition.columns.size(); ++c) {
      values.push_back(a->table()->value(row, c));
    }
    copy.add(v, values);
  }
  copy.close();
  for (const char* ext : {".shp", ".shx", ".dbf", ".prj", ".cpg"}) {
    File mine = dir.read(std::string("b") + ext), theirs = dir.read(std::string("a") +
                                                                     kel::asciiUpper(ext));
    if (std::string(ext) == ".dbf") {  // the date of the last update may differ
      ASSERT_GT(mine.size(), 4u);
      std::copy(theirs.begin() + 1, theirs.begin() + 4, mine.begin() + 1);
    }
    EXPECT_EQ(mine, theirs) << ext;
  }
}

TEST_F(LayerWriterTest, RefusesAValueOrShapeBeforeWritingAByteOfItsRecord) {
  using V = fmt::Value;
  const double nan = std::nan("");
  struct Case {
    const char* what;
    std::function<void(EngineRecord&)> edit;
    const char* ext;  // of the file named
    std::int64_t column;
    std::string says;
    std::string encoding = "UTF-8";
    std::uint64_t maxBytes = fmt::kTwoGigabytes;
  } cases[] = {
      {"text too long", [](EngineRecord& r) { r.row[0] = V(std::string(23, 'x')); }, ".dbf", 0,
       "'xxxxxxxxxxxxxxxxxxxxxxx' takes 23 bytes; the column holds 12"},
      {"a character the encoding lacks",
       [](EngineRecord& r) { r.row[0] = V(std::string("\xCE\xA9")); }, ".dbf", 0,
       "holds '\xCE\xA9', which the table's encoding cannot hold", "CP1252"},
      {"no UTF-8", [](EngineRecord& r) { r.row[0] = V(std::string("ab\xC3(")); }, ".dbf", 0,
       "no well-formed UTF-8 at byte 2"},
      {"a NUL", [](EngineRecord& r) { r.row[0] = V(std::string("a\0b", 3)); }, ".dbf", 0,
       "the text 'a\\x00b' holds a NUL character"},
      {"an integer too wide", [](EngineRecord& r) { r.row[1] = V(std::int64_t{12345678901}); },
       ".dbf", 1, "12345678901 takes 11 characters"},
      {"decimals too wide", [](EngineRecord& r) { r.row[2] = V(123456789.5); }, ".dbf", 2,
       "123456789.5 takes 13 characters as 123456789.500 and 15 as 1.234567895e+08; the column "
       "holds 12"},
      {"a bool into a Number", [](EngineRecord& r) { r.row[1] = V(true); }, ".dbf", 1,
       "a logical value (true) cannot go into a Number column"},
      {"text into a Logical", [](EngineRecord& r) { r.row[4] = V(std::string("T")); }, ".dbf", 4,
       "text ('T') cannot go into a Logical column"},
      {"NaN into a Float", [=](EngineRecord& r) { r.row[3] = V(nan); }, ".dbf", 3,
       "has no decimal digits"},
      {"no such day",
       [](EngineRecord& r) {
         r.row[5] = V(fmt::Date{2023, 2, 29});
       },
       ".dbf", 5, "2023-02-29 is no day"},
      {"a short row", [](EngineRecord& r) { r.row.pop_back(); }, ".dbf", -1,
       "5 values for 6 columns"},
      {"another type", [](EngineRecord& r) { r.type = fmt::ShapeType::PolygonZ; }, ".shp", -1,
       "a PolygonZ shape cannot go into a PolyLineZ layer"},
      {"a part outside",
       [](EngineRecord& r) {
         r.parts = {0, 10};
       },
       ".shp", -1, "part 2 starts at point 10"},
      {"a first part after 0",
       [](EngineRecord& r) {
         r.parts = {1, 5};
       },
       ".shp", -1, "first part starts at point 1"},
      {"a Z value missing", [](EngineRecord& r) { r.z.pop_back(); }, ".shp", -1, "9 for 10 points"},
      {"a NaN vertex", [=](EngineRecord& r) { r.points[3].x = nan; }, ".shp", -1,
       "point 4 of 10 has a NaN or infinite X or Y"},
      {"an infinite M", [](EngineRecord& r) { r.m[0] = -HUGE_VAL; }, ".shp", -1,
       "NaN or infinite M"},
      {"the main file's limit", [](EngineRecord&) {}, ".shp", -1, "past 500 bytes", "UTF-8", 500},
      {"the table's limit",
       [](EngineRecord& r) { r = {fmt::ShapeType::Null, {}, {}, {}, {}, {}, r.row}; }, ".dbf", -1,
       "past 300 bytes", "UTF-8", 300},
  };
  const auto type = fmt::ShapeType::PolyLineZ;
  const std::vector<EngineRecord> records = engineRecords(type);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DirectoryPicture old = oldLayer();
    {
      fmt::WriteOptions options;
      options.encoding = c.encoding;
      options.maxFileBytes = c.maxBytes;
      fmt::LayerWriter writer(path(), type, kEngineColumns, options);
      writer.add(records[1].view(), records[1].row);  // a null shape and null values
      EngineRecord bad = records[0];
      c.edit(bad);
      try {
        writer.add(bad.view(), bad.row);
        ADD_FAILURE() << "taken";
      } catch (const fmt::WriteError& e) {
        EXPECT_EQ(e.finding().file, path(std::string("f") + c.ext));
        EXPECT_EQ(e.finding().offset, std::string(c.ext) == ".shp" ? 112 : 277);
        EXPECT_EQ(e.row(), 1);
        EXPECT_EQ(e.column(), c.column);
        EXPECT_NE(std::string(e.what()).find("record 2: "), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
      }
      if (c.maxBytes == fmt::kTwoGigabytes) {
        writer.add(records[1].view(), records[1].row);
        EXPECT_EQ(writer.count(), 2);
      }
    }
    EXPECT_EQ(pictureOf(dir), old);
  }
}

// What the table's header cannot describe, or the writer cannot write, is refused before any file
// is made.
TEST_F(LayerWriterTest, RefusesColumnsPathsAndOptionsBeforeMakingAnyFile) {
  auto many = [](std::size_t n, std::uint8_t width) {
    std::vector<fmt::ColumnDefinition> columns;
    for (std::size_t i = 0; i < n; ++i) columns.push_back({"C" + std::to_string(i), 'C', width});
    return columns;
  };
  struct Case {
    const char* what;
    std::vector<fmt::ColumnDefinition> columns;
    std::int64_t column;
    std::string says;
    std::string encoding = "UTF-8";
    std::string name = "f";
    std::uint64_t maxBytes = fmt::kTwoGigabytes;
  } cases[] = {
      {"a long name", {{"ELEVENBYTES", 'C', 5}}, 0, "the name takes 11 bytes in UTF-8"},
      {"ten letters in eleven bytes",
       {{"A", 'C', 1},
        {"STRA\xC3\x9F"
         "E_NR1",
         'C', 5}},
       1,
       "column 2 ('STRA\xC3\x9F"
       "E_NR1'): the name takes 11 bytes"},
      {"a name twice", {{"Name", 'C', 5}, {"NAME", 'N', 5}}, 1, "the same name"},
      {"no name", {{"", 'C', 5}}, 0, "needs a name"},
      {"a name the encoding lacks", {{"\xCE\xA9", 'C', 1}}, 0, "CP1252 cannot hold", "CP1252"},
      {"a memo", {{"M", 'M', 10}}, 0, "'M' is none of C, N, F, L and D"},
      {"width 0", {{"W", 'C', 0}}, 0, "the width 0 is not 1 to 254"},
      {"width 255", {{"W", 'N', 255}}, 0, "the width 255"},
      {"a wide Logical", {{"L", 'L', 2}}, 0, "1 wide"},
      {"a Date of 10", {{"D", 'D', 10}}, 0, "8 wide"},
      {"decimals in text", {{"C", 'C', 10, 2}}, 0, "no decimals"},
      {"decimals without room", {{"N", 'N', 4, 3}}, 0, "no room for a digit and the point"},
      {"2,047 columns", many(2047, 1), 2046, "at most 2,046 columns; 2047 were given"},
      {"rows of 65,787 bytes", many(259, 254), 258, "65787 bytes; a row holds 65,535"},
      {"no such encoding", {}, -1, "no encoding is named 'NO-SUCH'", "NO-SUCH"},
      {"an encoding not of ASCII", {}, -1, "'UTF-16' does not write ASCII as ASCII", "UTF-16"},
      {"a NUL in the path", {}, -1, "NUL", "UTF-8", std::string("f\0x", 3)},
      {"no file name", {}, -1, "names no file", "UTF-8", "sub/"},
      {"a missing directory", {}, -1, "cannot create", "UTF-8", "missing/f"},
      {"above 4 GB", {}, -1, "at most 4 GB", "UTF-8", "f", fmt::kFourGigabytes + 1},
  };
  DirectoryPicture old = oldLayer();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fmt::WriteOptions options;
    options.encoding = c.encoding;
    options.maxFileBytes = c.maxBytes;
    try {
      fmt::LayerWriter writer(path(c.name), fmt::ShapeType::Point, c.columns, options);
      ADD_FAILURE() << "taken";
    } catch (const fmt::WriteError& e) {
      EXPECT_EQ(e.column(), c.column);
      EXPECT_EQ(e.finding().offset, c.column >= 0 ? 32 + 32 * c.column : -1);
      EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
    }
    EXPECT_EQ(pictureOf(dir), old);
  }
}

// Past 255 columns a warning; a name of ten characters that the encoding holds in ten bytes; and
// text and numbers cut only when the caller asks.
TEST_F(LayerWriterTest, WarnsOfManyColumnsAndCutsOnlyWhenAsked) {
  std::vector<fmt::ColumnDefinition> columns = {{"STRA\xC3\x9F"
                                                 "E_NR1",
                                                 'C', 4},
                                                {"N", 'N', 5, 1},
                                                {"T", 'C', 5}};
  for (int i = 3; i < 256; ++i) columns.push_back({"X" + std::to_string(i), 'L', 1});
  std::vector<fmt::Value> row(256, fmt::Value(fmt::Null{}));
  row[0] = std::string("\xC3\x86\xC3\x86\xC3\x86\xC3\x86\xC3\x86");  // five Æ, ten bytes
  row[1] = 12345.5;
  row[2] = std::string("abcdefg");
  for (bool cut : {false, true}) {
    fmt::CollectingReporter reporter;
    fmt::WriteOptions options;
    options.encoding = "CP1252";
    options.cut = cut;
    options.reporter = &reporter;
    fmt::LayerWriter writer(path(), fmt::ShapeType::Null, columns, options);
    ASSERT_EQ(reporter.findings.size(), 1u);
    EXPECT_NE(reporter.findings[0].sentence.find("256 columns"), std::string::npos);
    if (!cut) {
      EXPECT_THROW(writer.add(fmt::ShapeView{}, row), fmt::WriteError);
      continue;
    }
    writer.add(fmt::ShapeView{}, row);
    writer.close();
    auto layer = fmt::Layer::open(path(), reporter);
    fmt::RowView read = layer->table()->read(0);
    EXPECT_EQ(read.bytes.substr(0, 14), "\xC6\xC6\xC6\xC6*****abcde");
    EXPECT_EQ(layer->table()->columns()[0].name,
              "STRA\xC3\x9F"
              "E_NR1");
  }
  // In UTF-8 a cut falls between characters.
  fmt::WriteOptions options;
  options.cut = true;
  std::vector<fmt::ColumnDefinition> one = {{"T", 'C', 5}};
  std::vector<EngineRecord> single(1);
  single[0].row = {row[0]};
  writeLayer(path(), fmt::ShapeType::Null, single, options, one);
  File dbf = dir.read("f.dbf");
  EXPECT_EQ(std::string(dbf.end() - 6, dbf.end() - 1), "\xC3\x86\xC3\x86 ");
}

// Every creation, write, flush to disk, rename and removal of the writer's files fails in turn:
// after each the old layer is there to the byte, and no temporary file; then the write succeeds,
// puts the new files in place and removes the old .prj and spatial index.
TEST_F(LayerWriterTest, AFailureAnywhereLeavesTheOldLayerAsItWas) {
  // Enough records that the buffers are written out while records are added.
  const std::vector<EngineRecord> records = engineRecords(fmt::ShapeType::PointM, 1500);
  for (bool links : {true, false}) {
    for (auto op : {FileSetFaults::kCreate, FileSetFaults::kWrite, FileSetFaults::kSync,
                    FileSetFaults::kRename, FileSetFaults::kRemove}) {
      SCOPED_TRACE(links);
      const std::int64_t failures = failAtEachCall(
          dir, op, links, [&] { return oldLayer(); },
          [&] { writeLayer(path(), fmt::ShapeType::PointM, records); });
      // Four files and the recovery record made, written through and renamed; the old .prj and
      // index removed, unless moved aside for want of links; the buffers written out while
      // records are added.
      if (op == FileSetFaults::kWrite) {
        EXPECT_GT(failures, 6);
      } else {
        EXPECT_EQ(failures, op != FileSetFaults::kRemove ? 5 : links ? 2 : 0);
      }
      std::vector<std::string> names;
      for (const auto& [name, bytes] : pictureOf(dir)) names.push_back(name);
      EXPECT_EQ(names, (std::vector<std::string>{"f.cpg", "f.dbf", "f.shp", "f.shx"}));
      fmt::CollectingReporter reporter;
      EXPECT_EQ(fmt::Layer::open(path(), reporter)->count(), 4500);
    }
  }
  // The caller's own exception between records: the writer goes without close().
  DirectoryPicture old = oldLayer();
  EXPECT_THROW(
      {
        fmt::LayerWriter writer(path(), fmt::ShapeType::PointM, kEngineColumns);
        for (const EngineRecord& r : records) writer.add(r.view(), r.row);
        throw std::runtime_error("the caller's loop failed");
      },
      std::runtime_error);
  EXPECT_EQ(pictureOf(dir), old);
}

// The writer's process dies at each system call of a replacement in turn, as a SIGKILL or a power
// cut would end it. The next open, by the engine or by the object model, finds the old layer or
// the new one whole and nothing of the dead process's but its unlocked temporary files, which
// the next write removes.
TEST_F(LayerWriterTest, AProcessKilledAnywhereLeavesOneGenerationWhole) {
  const std::vector<EngineRecord> records = engineRecords(fmt::ShapeType::PointM, 300);
  oldLayer();
  writeLayer(path(), fmt::ShapeType::PointM, records);
  const DirectoryPicture fresh = pictureOf(dir);
  auto visible = [](DirectoryPicture picture) {
    std::erase_if(picture, [](const auto& entry) {
      EXPECT_TRUE(entry.first[0] != '.' || entry.first.ends_with(".tmp")) << entry.first;
      return entry.first[0] == '.';
    });
    return picture;
  };
  int back = 0, forward = 0;
  DirectoryPicture old;
  killAtEachCall(
      [&] { old = oldLayer(); }, [&] { writeLayer(path(), fmt::ShapeType::PointM, records); },
      [&](int k) {
        if (k % 2 == 1) {
          fmt::CollectingReporter reporter;
          ASSERT_NE(fmt::Layer::open(path(), reporter), nullptr);
        } else {
          try {
            kel::readShapefileAt(path());  // puts the files right, then refuses the null shapes
          } catch (const kel::Error&) {
          }
        }
        DirectoryPicture now = visible(pictureOf(dir));
        ASSERT_TRUE(now == visible(old) || now == fresh);
        (now == fresh ? forward : back) += 1;
        writeLayer(path(), fmt::ShapeType::PointM, records);
        ASSERT_EQ(pictureOf(dir), fresh);
      });
  EXPECT_GT(back, 10);
  EXPECT_GT(forward, 3);
}

// A reader that opens the layer while another process replaces it, again and again, with layers
// of the same count: every open gives the shapes and the table of one and the same generation.
TEST_F(LayerWriterTest, AReaderOpeningDuringReplacementsGetsOneGeneration) {
  const std::vector<fmt::ColumnDefinition> columns = {{"G", 'N', 9}};
  auto generation = [&](int g) {
    std::vector<EngineRecord> records(4);
    for (EngineRecord& r : records) {
      r.type = fmt::ShapeType::Point;
      r.points = {{double(g), 0}};
      r.row = {std::int64_t{g}};
    }
    writeLayer(path(), fmt::ShapeType::Point, records, {}, columns);
  };
  generation(0);
  pid_t writer = fork();
  ASSERT_NE(writer, -1);
  if (writer == 0) {
    for (int g = 1;; ++g) generation(g);
  }
  int mixed = 0;
  fmt::ShapeView shape;
  for (int i = 0; i < 300; ++i) {
    fmt::CollectingReporter reporter;
    std::unique_ptr<fmt::Layer> layer = fmt::Layer::open(path(), reporter);
    if (layer == nullptr || layer->table() == nullptr) {
      ADD_FAILURE() << (reporter.findings.empty() ? "" : fmt::describe(reporter.findings.back()));
      continue;
    }
    std::set<double> seen;
    for (std::int64_t r = 0; r < layer->count(); ++r) {
      layer->shapes().read(r, shape);
      seen.insert(shape.points.empty() ? -1 : shape.points[0].x);
      seen.insert(fmt::asDouble(layer->table()->value(layer->table()->read(r), 0)).value_or(-2));
    }
    mixed += seen.size() != 1;
  }
  kill(writer, SIGKILL);
  waitpid(writer, nullptr, 0);
  EXPECT_EQ(mixed, 0);
}

// A recovery record is acted on only when no live process holds it, and only when this library
// wrote it: a reader refuses a layer whose record it cannot make sense of, rather than read a mix.
TEST_F(LayerWriterTest, ARecoveryRecordOfALiveOrAStrangeWriterIsLeftAlone) {
  oldLayer();
  const std::string record = kel::AtomicFileSet::recordFor(path());
  dir.write(".f.replacing", std::string("kelShapeLib replacement 1\nF 3:abc"));
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  ASSERT_NE(holder, -1);
  if (holder == 0) {
    int fd = open(record.c_str(), O_RDWR);
    _exit(fd >= 0 && flock(fd, LOCK_EX) == 0 && write(ready[1], "x", 1) == 1 && pause() ? 0 : 1);
  }
  char x;
  ASSERT_EQ(read(ready[0], &x, 1), 1);
  EXPECT_EQ(kel::AtomicFileSet::recover(record), kel::AtomicFileSet::Recovered::Busy);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  fmt::CollectingReporter reporter;
  EXPECT_EQ(fmt::Layer::open(path(), reporter), nullptr);
  ASSERT_EQ(reporter.count(fmt::Severity::Error), 1u);
  EXPECT_NE(reporter.findings.back().sentence.find("not one this library wrote"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(record));
}

// Replaced files keep the mode and group of the files they replace, and a file new to the layer
// takes the main file's; a new layer gets the usual mode less the umask.
TEST_F(LayerWriterTest, ReplacedFilesKeepTheirAccess) {
  namespace fs = std::filesystem;
  oldLayer();
  for (const char* name : {"f.shp", "f.shx", "f.dbf", "f.prj"}) {
    fs::permissions(dir.native(name), fs::perms::owner_read | fs::perms::owner_write);
    if (geteuid() == 0) {
      ASSERT_EQ(chown(dir.native(name).c_str(), -1, 4321), 0);
    }
  }
  fmt::WriteOptions o;
  o.projection = "new";
  writeLayer(path(), fmt::ShapeType::Point, engineRecords(fmt::ShapeType::Point), o);
  for (const char* name : {"f.shp", "f.shx", "f.dbf", "f.prj", "f.cpg"}) {
    struct stat st {};
    ASSERT_EQ(stat(dir.native(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
    if (geteuid() == 0) {
      EXPECT_EQ(st.st_gid, 4321u) << name;
    }
  }
  mode_t was = umask(027);
  writeLayer(path("g"), fmt::ShapeType::Point, engineRecords(fmt::ShapeType::Point));
  umask(was);
  EXPECT_EQ(fs::status(dir.native("g.shp")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// A file system that takes no more bytes (RLIMIT_FSIZE, in a child process): the write fails with
// "disk full", the old layer stays and no temporary file is left.
TEST_F(LayerWriterTest, AFullDiskLeavesTheOldLayer) {
  DirectoryPicture old = oldLayer();
  const std::vector<EngineRecord> records = engineRecords(fmt::ShapeType::Point, 500);
  const int status = exitOfChild([&] {
    diskFullAt(20000);
    try {
      writeLayer(path(), fmt::ShapeType::Point, records);
    } catch (const fmt::WriteError& e) {
      return std::string(e.what()).find("Disk full") != std::string::npos ? 0 : 2;
    }
    return 1;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(pictureOf(dir), old);
}

// The new files take the place of the names, links included, and never write through a link;
// a path in capitals gives files in capitals; a directory by a file's name is never moved: the
// write fails when it stands where a new file goes, and it stays where a stale file would be.
TEST_F(LayerWriterTest, ReplacesNamesNotWhatLinksPointAt) {
  std::filesystem::create_directory(dir.native("F.QIX"));
  std::filesystem::create_directory(dir.native("g.dbf"));
  DirectoryPicture before = pictureOf(dir);
  EXPECT_THROW(writeLayer(path("g"), fmt::ShapeType::Point, engineRecords(fmt::ShapeType::Point)),
               fmt::WriteError);
  EXPECT_EQ(pictureOf(dir), before);
  std::filesystem::remove(dir.native("g.dbf"));
  dir.write("victim", std::string("keep"));
  std::filesystem::create_symlink(dir.native("victim"), dir.native("F.SHX"));
  std::filesystem::create_symlink(dir.native("victim"), dir.native("F.PRJ"));
  dir.write("F.prj", std::string("old"));
  writeLayer(path("F.SHP"), fmt::ShapeType::Point, engineRecords(fmt::ShapeType::Point));
  std::vector<std::string> names;
  for (const auto& [name, bytes] : pictureOf(dir)) names.push_back(name);
  EXPECT_EQ(names,
            (std::vector<std::string>{"F.CPG", "F.DBF", "F.QIX", "F.SHP", "F.SHX", "victim"}));
  EXPECT_TRUE(std::filesystem::is_directory(dir.native("F.QIX")));
  EXPECT_FALSE(std::filesystem::is_symlink(dir.native("F.SHX")));
  EXPECT_EQ(dir.read("victim"), File({'k', 'e', 'e', 'p'}));
}

// A number goes in at the column's decimals; one too wide for that goes in exponent form when a
// column of reals (decimals, or wider than 18) can hold the very number so, never into a column of
// integers, which readers read up to the first character that is no digit. Integers of more than
// 18 digits are refused wherever they would go in fixed form, even when cutting, as their readers
// read them back rounded; a double with decimals is no integer.
TEST_F(LayerWriterTest, WritesNumbersThatReadBackOrRefusesThem) {
  using V = fmt::Value;
  auto encoder = kel::TextEncoder::open("UTF-8");
  struct Case {
    V value;
    std::uint8_t width, decimals;
    std::string written;  // empty: refused, saying `says`
    std::string says = "";
    bool cut = false;
  } cases[] = {
      {V(1623819823.81), 19, 11, "1.62381982381e+09"},
      {V(1623819823.8123), 19, 11, "1.6238198238123e+09"},
      {V(1623819823.812345678), 19, 11, "",
       "takes 22 characters as 1623819823.81234574318 and 22 as 1.6238198238123457e+09; the "
       "column holds 19"},
      {V(-1623819823.8123), 13, 2, "", "as -1623819823.81 and 18 as -1.62381982381e+09"},
      {V(1623819823.81), 12, 2, "", "", true},
      {V(1.0 / 3), 5, 3, "0.333"},
      {V(-0.5), 6, 4, "-5e-01"},
      {V(1e300), 20, 0, "1e+300"},
      {V(1e300), 20, 2, "1e+300"},
      {V(std::int64_t{12000000000}), 10, 2, "1.2e+10"},
      {V(std::int64_t{12000000000}), 10, 0, "", "takes 11 characters as 12000000000; the column"},
      {V(1.2e10), 10, 0, "", "takes 11 characters as 12000000000; the column holds 10"},
      {V(std::int64_t{9007199254740993}), 12, 2, "", "as 9007199254740993.00; the column"},
      {V(std::int64_t{-123456789012345678}), 27, 0, "-123456789012345678"},
      {V(std::int64_t{1234567890123456789}), 27, 0, "", "19 digits; Number columns read back"},
      {V(std::int64_t{1234567890123456789}), 27, 2, "", "19 digits; Number columns read back",
       true},
      {V(1e18), 27, 0, "", "19 digits; Number columns read back integers of at most 18", true},
      {V(1e18), 27, 2, "1000000000000000000.00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(fmt::shown(c.value) + " into " + std::to_string(c.width) + "." +
                 std::to_string(c.decimals));
    fmt::FieldDescriptor column;
    column.type = 'N';
    column.width = c.width;
    column.decimals = c.decimals;
    std::string field;
    std::optional<std::string> why = fmt::encodeField(column, c.value, *encoder, c.cut, field);
    std::string asterisks = c.cut && c.says.empty() ? std::string(c.width, '*') : "";
    EXPECT_EQ(field, c.written.empty() ? asterisks
                                       : std::string(c.width - c.written.size(), ' ') + c.written);
    if (c.says.empty()) {
      EXPECT_FALSE(why) << *why;
    } else {
      ASSERT_TRUE(why);
      EXPECT_NE(why->find(c.says), std::string::npos) << *why;
    }
  }
}
