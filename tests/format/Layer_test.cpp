#include "kel/format/Layer.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "kel/runtime/TextEncoder.h"
#include "support/ShapefileFixtures.h"

using namespace kel::testing;
namespace fmt = kel::format;

namespace {

bool saidSomething(const fmt::CollectingReporter& r, fmt::Severity s, const std::string& part) {
  for (const fmt::Finding& f : r.findings) {
    if (f.severity == s && fmt::describe(f).find(part) != std::string::npos) return true;
  }
  return false;
}

// The X/Y pairs of every shape of the layer, read in order.
std::vector<Pts> shapesOf(fmt::Layer& layer) {
  std::vector<Pts> out;
  fmt::ShapeView v;
  for (std::int64_t i = 0; i < layer.count(); ++i) {
    Pts& pts = out.emplace_back();
    if (!layer.shapes().read(i, v)) continue;
    for (const fmt::XY& p : v.points) pts.emplace_back(p.x, p.y);
  }
  return out;
}

struct LayerTest : ::testing::Test {
  TempDir dir;
  fmt::CollectingReporter reporter;
  std::unique_ptr<fmt::Layer> open(const std::string& path = "f", fmt::OpenOptions o = {}) {
    return fmt::Layer::open(dir.native(path), reporter, o);
  }
};

}  // namespace

TEST_F(LayerTest, ReadsThroughTheIndexOrByWalkingTheMainFile) {
  ShapefileFiles files = sampleFiles(5);
  writeSet(dir, files, "f");
  auto layer = open("f.shp");
  ASSERT_TRUE(layer) << describeAll(reporter.findings);
  EXPECT_TRUE(layer->shapes().indexed());
  std::vector<Pts> want = shapesOf(*layer);
  ASSERT_EQ(want.size(), 3u);
  EXPECT_EQ(want[0], sampleShapes(5)[0].first);

  // No index, an index of another length, an index whose entries miss the main file.
  const File shorter(files.shx.begin(), files.shx.end() - 3);
  File wrong = files.shx;
  putBigEndian(wrong, 100, 1000);
  for (const File* shx :
       {static_cast<const File*>(nullptr), &shorter, static_cast<const File*>(&wrong)}) {
    std::filesystem::remove(dir.native("f.shx"));
    if (shx) dir.write("f.shx", *shx);
    reporter.findings.clear();
    layer = open("f");
    ASSERT_TRUE(layer);
    EXPECT_FALSE(layer->shapes().indexed());
    EXPECT_TRUE(saidSomething(reporter, shx ? fmt::Severity::Irregularity : fmt::Severity::Note,
                              "walking the main file"))
        << describeAll(reporter.findings);
    EXPECT_EQ(shapesOf(*layer), want);
  }
}

TEST_F(LayerTest, OpensEveryFileForReadingOnly) {
  writeSet(dir, sampleFiles(1), "f");
  auto layer = open();
  ASSERT_TRUE(layer);
  int files = 0;
  for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    auto target = std::filesystem::read_symlink(fd.path(), ec);
    if (ec || target.string().rfind(dir.str(), 0) != 0) continue;
    std::ifstream info("/proc/self/fdinfo/" + fd.path().filename().string());
    std::string key;
    int flags = -1;
    while (info >> key) {
      if (key == "flags:") info >> std::oct >> flags;
    }
    EXPECT_EQ(flags & O_ACCMODE, O_RDONLY) << target;
    ++files;
  }
  EXPECT_EQ(files, 3);  // the main file, the index and the table stay open
}

TEST_F(LayerTest, ReadsMoreShapesThanSixteenBitsCount) {
  std::vector<Bytes> points;
  std::vector<std::string> rows;
  for (int i = 0; i < 70000; ++i) {
    points.push_back(shapeContent(1, {{i, -i}}));
    rows.push_back(" " + std::to_string(100000 + i));
  }
  writeSet(dir, shapefileOf(1, points, dbfFile(70000, {{"N", 'N', 6}}, rows)), "f");
  auto layer = open();
  ASSERT_TRUE(layer);
  EXPECT_EQ(layer->count(), 70000);
  fmt::ShapeView v;
  ASSERT_TRUE(layer->shapes().read(69999, v));
  EXPECT_EQ(v.points[0].x, 69999);
  fmt::RowView row = layer->table()->read(69999);
  EXPECT_EQ(layer->table()->value(row, 0), fmt::Value(std::int64_t{169999}));
  EXPECT_THROW(layer->shapes().read(70000, v), std::out_of_range);
}

TEST_F(LayerTest, TakesTheEncodingFromTheCodePageFileTheMarkOrTheCaller) {
  std::string greek = "\xC1\xE8\xDE\xED\xE1";  // Athens in Windows-1253
  File dbf = dbfFile(1, {{"NAME", 'C', 10}}, {" " + greek + "     "});
  writeSet(dir, shapefileOf(1, {shapeContent(1, {{0, 0}})}, dbf), "f");
  auto nameRead = [&](fmt::OpenOptions o = {}) {
    auto layer = open("f", o);
    return std::get<std::string>(layer->table()->value(layer->table()->read(0), 0));
  };
  const std::string athens = "\xCE\x91\xCE\xB8\xCE\xAE\xCE\xBD\xCE\xB1";
  EXPECT_EQ(nameRead(), "\xC3\x81\xC3\xA8\xC3\x9E\xC3\xAD\xC3\xA1");  // Windows-1252 by default
  dbf[29] = 0xCB;  // the language driver of Windows-1253
  dir.write("f.dbf", dbf);
  EXPECT_EQ(nameRead(), athens);
  dir.write("f.cpg", std::string("1253\n"));
  dbf[29] = 0;
  dir.write("f.dbf", dbf);
  EXPECT_EQ(nameRead(), athens);
  EXPECT_TRUE(saidSomething(reporter, fmt::Severity::Note, "CP1253, as the .cpg file says"));
  EXPECT_EQ(nameRead({"ISO-8859-7"}), athens);
  dir.write("f.cpg", std::string("UTF-8"));
  reporter.findings.clear();
  auto layer = open();
  EXPECT_EQ(layer->encoding(), "UTF-8");
  layer->table()->value(layer->table()->read(0), 0);
  EXPECT_TRUE(saidSomething(reporter, fmt::Severity::Irregularity, "no characters"));
}

TEST_F(LayerTest, SaysWhatItCouldNotReadAndWhere) {
  ShapefileFiles files = sampleFiles(3);
  const std::size_t second = 320;           // where the sample's second record lies
  files.shp[second + 8 + 40 + 3] = 0x10;    // the second record's point count, far too large
  files.shp.resize(files.shp.size() - 10);  // and the last record runs past the end
  writeSet(dir, files, "f");
  std::filesystem::remove(dir.native("f.dbf"));
  auto layer = open();
  ASSERT_TRUE(layer);
  EXPECT_EQ(layer->table(), nullptr);
  EXPECT_TRUE(saidSomething(reporter, fmt::Severity::Note, "no table"));
  EXPECT_TRUE(saidSomething(reporter, fmt::Severity::Irregularity, "walking the main file"));
  EXPECT_TRUE(saidSomething(reporter, fmt::Severity::Error, "runs past the end of the file"));
  ASSERT_EQ(layer->count(), 2);
  fmt::ShapeView v;
  EXPECT_TRUE(layer->shapes().read(0, v));
  EXPECT_FALSE(layer->shapes().read(1, v));
  EXPECT_EQ(v.type, fmt::ShapeType::Null);
  const fmt::Finding& last = reporter.findings.back();
  EXPECT_EQ(last.severity, fmt::Severity::Error);
  EXPECT_EQ(last.record, 1);
  EXPECT_EQ(last.offset, static_cast<std::int64_t>(second + 8 + 36));
  EXPECT_NE(last.sentence.find("points need"), std::string::npos) << last.sentence;

  reporter.findings.clear();
  EXPECT_FALSE(open("missing"));
  ASSERT_EQ(reporter.findings.size(), 1u);
  EXPECT_TRUE(reporter.findings[0].missingFile);
  dir.write("bad.shp", std::string(100, 'x'));
  EXPECT_FALSE(open("bad.shp"));
  EXPECT_NE(reporter.findings.back().sentence.find("not 9994"), std::string::npos);
  EXPECT_FALSE(fmt::Layer::open(dir.native("f") + std::string(1, '\0') + "x", reporter));
}

TEST_F(LayerTest, ARecordCutOffAfterTheLayerOpenedIsAnErrorNotACrash) {
  // A record of 20,000 points, whose coordinates are read straight from the file rather than
  // through its window; the file is cut short inside them after the layer was opened.
  Pts pts;
  for (int i = 0; i < 20000; ++i) pts.emplace_back(i, -i);
  writeSet(dir, shapefileOf(3, {shapeContent(3, pts, {0}, extentsOf(pts))}, dbfFile(1)), "f");
  auto layer = open();
  ASSERT_TRUE(layer);
  std::filesystem::resize_file(dir.native("f.shp"), 100 + 8 + 44 + 4 + 8 * pts.size());
  reporter.findings.clear();
  fmt::ShapeView v;
  EXPECT_FALSE(layer->shapes().read(0, v));
  EXPECT_EQ(v.type, fmt::ShapeType::Null);
  EXPECT_EQ(reporter.count(fmt::Severity::Error), 1u) << describeAll(reporter.findings);
}

// The .prj and .cpg files are read whole, whatever their size; a .cpg naming an encoding that does
// not write ASCII as ASCII (which would garble the column names) is said and the default taken.
TEST_F(LayerTest, ReadsCompanionsWholeAndTakesOnlyEncodingsOfAscii) {
  writeSet(dir,
           shapefileOf(1, {shapeContent(1, {{0, 0}})}, dbfFile(1, {{"NAME", 'C', 2}}, {" ab"})),
           "f");
  std::string prj = "GEOGCS[" + std::string(3 << 20, 'x') + "]";
  dir.write("f.prj", prj);
  for (std::string named : {"UTF-16", "UTF-32", "IBM037", "UTF-8"}) {
    SCOPED_TRACE(named);
    std::string cpg = named + std::string(2 << 20, '\n');
    dir.write("f.cpg", cpg);
    reporter.findings.clear();
    auto layer = open();
    EXPECT_TRUE(layer->projection() == prj);  // not printed: megabytes
    EXPECT_TRUE(layer->codePage() == cpg);
    EXPECT_EQ(layer->table()->columns().at(0).name, "NAME");
    EXPECT_EQ(layer->encoding(), named == "UTF-8" ? "UTF-8" : "CP1252");
    EXPECT_EQ(saidSomething(reporter, fmt::Severity::Irregularity, "does not write ASCII as ASCII"),
              named != "UTF-8")
        << describeAll(reporter.findings);
  }
}

// A table with no .cpg and no language mark: valid UTF-8 reads as UTF-8, other text in the code
// page its letters fit best, each guess said once, Windows-1252 too; ASCII needs no guess; the
// caller's encoding wins, quietly.
TEST_F(LayerTest, GuessesTheCodePageOfAnUndeclaredTable) {
  const std::vector<std::string> everywhere = {"Belém",  "Zürich", "Málaga",  "Ñuñoa",
                                               "Genève", "Århus",  "Göteborg"};
  struct Case {
    std::string encoding;
    std::vector<std::string> more;  // what only some of the code pages hold
    bool guessed = true;            // and said
  };
  const Case cases[] = {{"CP1252", {"São Paulo", "Ærøskøbing"}},
                        {"CP850", {"São Paulo", "Ærøskøbing"}},
                        {"CP437", {"¥500", "5¢"}},
                        {"UTF-8", {"São Paulo", "Łódź"}},
                        {"CP1252", {"Belem", "Zurich"}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.encoding);
    std::vector<std::string> words = c.more;
    if (c.more[0] != "Belem") words.insert(words.begin(), everywhere.begin(), everywhere.end());
    std::vector<std::string> rows;
    for (const std::string& w : words) {
      std::string name;
      kel::TextEncoder::open(c.encoding)->encode(w, name);
      rows.push_back(" " + name + std::string(14 - name.size(), ' ') + "  1234");
    }
    File dbf =
        dbfFile(static_cast<std::int32_t>(rows.size()), {{"NAME", 'C', 14}, {"POP", 'N', 6}}, rows);
    writeSet(dir, pointFiles(rows.size(), dbf), "f");
    reporter.findings.clear();
    auto layer = open();
    ASSERT_TRUE(layer && layer->table());
    for (std::size_t r = 0; r < words.size(); ++r) {
      fmt::RowView row = layer->table()->read(static_cast<std::int64_t>(r));
      EXPECT_EQ(layer->table()->value(row, 0), fmt::Value(words[r])) << r;
      EXPECT_EQ(layer->table()->value(row, 1), fmt::Value(std::int64_t{1234}));
    }
    EXPECT_EQ(layer->encoding(), c.encoding);
    std::size_t said = 0;
    for (const fmt::Finding& f : reporter.findings)
      said += f.sentence.find("declared") != f.sentence.npos;
    EXPECT_EQ(said, c.guessed ? 1u : 0u) << describeAll(reporter.findings);
    EXPECT_EQ(
        saidSomething(reporter, fmt::Severity::Irregularity,
                      "no code page declared; the text reads as " + c.encoding + " (guessed)"),
        c.guessed);
  }
  // The DOS table read as the caller says, with nothing to say.
  writeSet(dir, pointFiles(1, dbfFile(1, {{"NAME", 'C', 5}}, {" Bel\x82m"})), "f");
  reporter.findings.clear();
  for (std::string asked : {"CP1252", ""}) {
    auto layer = open("f", {asked});
    EXPECT_EQ(layer->table()->value(layer->table()->read(0), 0),
              fmt::Value(std::string(asked.empty() ? "Belém" : "Bel\xE2\x80\x9Am")));
    EXPECT_EQ(saidSomething(reporter, fmt::Severity::Irregularity, "declared"), asked.empty());
  }
}
