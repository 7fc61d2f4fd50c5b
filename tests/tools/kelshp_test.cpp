// kelshp run as a user runs it, its outputs held against GDAL and Python where they can judge.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/EngineWriting.h"
#include "support/GdalReading.h"

using namespace kel::testing;

namespace {

// The capture groups of every line of text that the pattern matches as a whole.
std::vector<std::vector<std::string>> grep(const std::string& text, const std::string& pattern) {
  std::vector<std::vector<std::string>> found;
  std::istringstream lines(text);
  std::smatch m;
  for (std::string line; std::getline(lines, line);)
    if (std::regex_match(line, m, std::regex(pattern))) found.emplace_back(m.begin() + 1, m.end());
  return found;
}

// Whether text holds a control character other than a line end: C0, DEL, or C1 in UTF-8.
bool hasControl(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto b = static_cast<unsigned char>(text[i]);
    if ((b < 0x20 && b != '\n') || b == 0x7F) return true;
    if (b == 0xC2 && i + 1 < text.size() && (text[i + 1] & 0xE0) == 0x80) return true;
  }
  return false;
}

// Heads of command lines: run() with them wants success, execute() reports whatever happens.
const std::string kelshp = quote(KELSHP_PATH) + " ";
const std::string python = "/usr/bin/python3 -c ";  // Debian's, not the one first on PATH

// A polygon with a hole; a multipolygon whose island in a hole has a hole of its own.
const char* kPolygons = R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"NAME":"hole","N":1,"V":0.25},"geometry":{"type":"Polygon",
 "coordinates":[[[0.5,0],[10,0],[10,10],[0.5,10],[0.5,0]],[[2,2],[4,2],[4,4],[2,4],[2,2]]]}},
{"type":"Feature","properties":{"NAME":"multi","N":2,"V":-3},"geometry":{"type":"MultiPolygon",
 "coordinates":[[[[20,0],[40,0],[40,20.5],[20,20.5],[20,0]],[[21,1],[21,19],[39,19],[39,1],[21,1]]],
 [[[22,2],[38,2],[38,18],[22,18],[22,2]],[[23,3],[23,17],[37,17],[37,3],[23,3]]],
 [[[50,0],[51,0],[51,1],[50,0]]]]}}]})";
const char* kLines = R"({"type":"FeatureCollection","features":[
{"type":"Feature","properties":{"NAME":"one","KIND":"a"},"geometry":{"type":"LineString",
 "coordinates":[[0,0],[1,1],[2,0]]}},
{"type":"Feature","properties":{"NAME":"two","KIND":"b"},"geometry":{"type":"MultiLineString",
 "coordinates":[[[0,5],[1,6]],[[3,5],[4,6],[5,5]]]}}]})";

// The paths and circles of an SVG picture, each of whose numbers must be finite and in reach.
const char* kDrawn = R"(
import math, re, sys, xml.etree.ElementTree as ET
svg = ET.parse(sys.argv[1]).getroot()
numbers = [svg.get(a) for a in ("width", "height")]
paths = list(svg.iter("{http://www.w3.org/2000/svg}path"))
circles = list(svg.iter("{http://www.w3.org/2000/svg}circle"))
for p in paths: numbers += re.split("[MLZ,]", p.get("d"))
for c in circles: numbers += [c.get("cx"), c.get("cy")]
assert all(math.isfinite(float(n)) and abs(float(n)) < 1e9 for n in numbers if n), numbers
print(len(paths), len(circles))
)";

class Kelshp : public ::testing::Test {
 protected:
  // poly.* and lin.* as GDAL writes them.
  void SetUp() override {
    for (std::string name : {"poly", "lin"}) {
      dir.write(name + ".json", name == "poly" ? kPolygons : kLines);
      run("ogr2ogr " + path(name + ".shp") + " " + path(name + ".json"));
    }
  }

  // A name under the test's directory, quoted for the shell.
  std::string path(const std::string& name) const { return quote(dir.native(name)); }

  // The stems of the sample layers, and of the corpus files made in the test's directory.
  std::vector<std::string> sampleAndCorpusLayers() const {
    run(quote(kSourceDir + "/scripts/fetch-sample-shapefiles") + " " + quote(KEL_SAMPLE_CACHE));
    std::vector<std::string> sources;
    for (const auto& e : std::filesystem::recursive_directory_iterator(KEL_SAMPLE_CACHE))
      if (e.path().extension() == ".shp")
        sources.push_back(std::filesystem::path(e.path()).replace_extension());
    const std::string makeCorpus =
        "/usr/bin/python3 " + quote(kSourceDir + "/tests/interop/corpus/make_corpus.py");
    std::istringstream stems(run(makeCorpus + " --list"));
    for (std::string stem; stems >> stem; sources.push_back(dir.native(stem)))
      run(makeCorpus + " " + quote(dir.str()) + " " + stem);
    EXPECT_GE(sources.size(), 18u + 32u);
    return sources;
  }

  TempDir dir;
};

TEST_F(Kelshp, DemoPrintsWhatPeersReadFromTheFilesItWrote) {
  std::vector<std::string> printed, peerRead;
  for (auto& v : grep(run(kelshp + "demo " + path("demo")), R"(\s+(\w+)\s+"\s*(.*?)\s*")"))
    printed.push_back(v[0] + "=" + v[1]);
  for (std::string stem : {"demo/roads", "demo/places"}) {
    // The object model declares no code page (no .cpg, language mark 0), so its Windows-1252
    // text is read on a guess, the one warning; told the encoding, check finds nothing.
    EXPECT_EQ(run(kelshp + "check " + path(stem)),
              dir.native(stem) +
                  ".dbf: no code page declared; the text reads as CP1252 (guessed) (warning)\n" +
                  dir.native(stem) + ": 0 errors, 1 warnings\n");
    EXPECT_EQ(run(kelshp + "check --encoding CP1252 " + path(stem)),
              dir.native(stem) + ": regular\n");
    Outcome ogr = execute("ogrinfo --config SHAPE_ENCODING CP1252 -al -q " + path(stem + ".shp"));
    EXPECT_EQ(std::pair(ogr.status, ogr.err), std::pair(0, std::string()));
    // OGR shows dates as 1958/06/12; the table holds 19580612.
    for (auto& v : grep(ogr.out, R"(\s+(\w+) \(\w+\) = (.*))"))
      peerRead.push_back(v[0] + "=" + std::regex_replace(v[1], std::regex("/"), ""));
  }
  EXPECT_EQ(printed.size(), 4u * 3 + 2 * 3);
  EXPECT_EQ(printed, peerRead);
}

TEST_F(Kelshp, InfoAgreesWithOgrinfo) {
  std::pair<std::string, std::string> cases[] = {
      {"poly", "Polygon (5)"}, {"poly.shp", "Polygon (5)"}, {"lin.SHP", "PolyLine (3)"}};
  for (auto& [arg, type] : cases) {
    SCOPED_TRACE(arg);
    std::string ogr = run("ogrinfo -so -al " + path(arg.substr(0, arg.find('.')) + ".shp"));
    std::string info = run(kelshp + "info " + path(arg));
    EXPECT_NE(info.find("shape type  " + type + "\n"), std::string::npos) << info;
    EXPECT_EQ(grep(info, R"(\s+records\s+(\d+))"), grep(ogr, R"(Feature Count: (\d+))"));
    std::string extent = R"(\s*[Ee]xtent:?\s+\((\S+), (\S+)\) - \((\S+), (\S+)\))";
    auto ours = grep(info, extent), theirs = grep(ogr, extent);
    ASSERT_TRUE(ours.size() == 1 && theirs.size() == 1) << info << ogr;
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(std::stod(ours[0][i]), std::stod(theirs[0][i]), 1e-6);
    // OGR names the column types in its own words.
    auto columns = grep(ogr, R"((\w+): (\w+) \((\d+)\.(\d+)\))");
    for (auto& c : columns) c[1] = c[1] == "String" ? "Character" : "Number";
    EXPECT_EQ(grep(info, R"(\s+(\S+)\s+(\w+)\s+width (\d+)\s+precision (\d+))"), columns);
  }
}

TEST_F(Kelshp, DumpGivesTheGeometriesOfGdalsGeoJson) {
  const char* compare = R"(
import json, sys
ours, gdal = ([f["geometry"] for f in json.load(open(p))["features"]] for p in sys.argv[1:])
assert ours == gdal, ours
area = lambda ring: sum(a[0] * b[1] - b[0] * a[1] for a, b in zip(ring, ring[1:]))
for g in ours:
  for p in {"Polygon": [g["coordinates"]], "MultiPolygon": g["coordinates"]}.get(g["type"], []):
    assert area(p[0]) > 0 and all(area(h) < 0 for h in p[1:]), p
)";
  for (std::string name : {"poly", "lin"}) {
    dir.write("ours.json", run(kelshp + "dump " + path(name)));
    run("ogr2ogr -f GeoJSON -lco RFC7946=YES " + path("gdal.json") + " " + path(name + ".shp"));
    run(python + quote(compare) + " " + path("ours.json") + " " + path("gdal.json"));
  }
  // Properties are typed; with --raw they are the table's text: an 80-wide column keeps its blanks.
  std::string poly = run(kelshp + "dump " + path("poly"));
  EXPECT_NE(poly.find(R"("NAME":"hole","N":1,"V":0.25})"), std::string::npos) << poly;
  std::string raw = run(kelshp + "dump --raw " + path("poly"));
  EXPECT_NE(raw.find(R"("NAME":"hole)" + std::string(76, ' ') + '"'), std::string::npos);
  EXPECT_NE(raw.find(R"("N":"        1")"), std::string::npos);
}

TEST_F(Kelshp, DumpStaysValidJsonWhateverBytesTheTableHolds) {
  File dbf = dir.read("lin.dbf");
  std::size_t first = dbf[8] | dbf[9] << 8, length = dbf[10] | dbf[11] << 8, n = 0;
  // Every byte value 0-255 in turn across the fields of both records, deletion flags left alone.
  for (std::size_t r = 0; r < 2; ++r)
    for (std::size_t k = 1; k < length; ++k) dbf[first + r * length + k] = std::uint8_t(n++);
  dir.write("lin.dbf", dbf);
  dir.write("raw.json", run(kelshp + "dump --raw " + path("lin")));
  const char* check = R"(
import json, sys
values = [v for f in json.load(open(sys.argv[1]))["features"] for v in f["properties"].values()]
assert all(len(v) == 80 for v in values), values
assert [ord(c) for c in "".join(values)[:128]] == list(range(128)), values
)";
  run(python + quote(check) + " " + path("raw.json"));
  EXPECT_FALSE(hasControl(run(kelshp + "dump " + path("lin"))));  // C1 escaped as well
}

// Whatever comes from a file or a path reaches the terminal escaped (\u{1b} a control character,
// \xNN a byte that is not UTF-8, \\ a backslash); dump escapes as JSON does.
TEST_F(Kelshp, ControlCharactersNeverReachTheTerminal) {
  const std::string stem = "ctl\x1b]0;x\x07";  // ESC and BEL in the file name
  // Column 2's name holds 0x9D (U+009D in Windows-1252, which the language mark names) and its
  // type letter is ESC.
  File dbf = dbfFile(1, {{"A\x1b[2J", 'C', 1}, {"B\x9d\\", '\x1b', 1}}, {" xy"});
  dbf[29] = 0x57;
  writeSet(dir, shapefileOf(1, {shapeContent(1, {{1, 2}})}, dbf), stem);
  std::string info = run(kelshp + "info " + path(stem));
  std::string check = execute(kelshp + "check " + path(stem)).out;
  std::string dump = run(kelshp + "dump " + path(stem));
  std::string failed = execute(kelshp + "info " + path(stem + "\x9b" + "x")).err;
  for (const std::string& out : {info, check, dump, failed}) EXPECT_FALSE(hasControl(out)) << out;
  EXPECT_NE(info.find("ctl\\u{1b}]0;x\\u{07}.shp\n"), std::string::npos) << info;
  EXPECT_NE(info.find(" A\\u{1b}[2J "), std::string::npos) << info;
  EXPECT_NE(info.find(" B\\u{9d}\\\\ "), std::string::npos) << info;
  EXPECT_NE(check.find("type letter '\\u{1b}'"), std::string::npos) << check;
  EXPECT_NE(failed.find("ctl\\u{1b}]0;x\\u{07}\\x9bx.shp: no such file"), std::string::npos)
      << failed;
  EXPECT_NE(dump.find(R"("A\u001b[2J":"x","B\u009d\\":"y")"), std::string::npos) << dump;
}

// A coordinate that GeoJSON cannot hold, or that the picture cannot place, leaves neither output
// invalid: dump gives the shape a null geometry and says why; render draws what it can and says
// on one line what it left out or pulled in.
TEST_F(Kelshp, OutputsStayValidForCoordinatesNoNumberCanShow) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<Pts> shapes = {{{0, 0}, {2, 2}},
                             {{0, 0}, {1e305, 1}, {1e308, -1e308}},  // far beyond the picture
                             {{0, 0}, {nan, 1}, {2, 2}},
                             {{inf, 0}, {1, 1}}};
  const char* dumped = R"(
import json, sys
def refuse(token): raise ValueError(token)
features = json.load(open(sys.argv[1]), parse_constant=refuse)["features"]
flat = lambda c: [v for x in c for v in flat(x)] if isinstance(c, list) else [c]
assert [f["geometry"] and f["geometry"]["type"] for f in features] == [sys.argv[2]] * 2 + [None] * 2
assert all(type(v) in (int, float) for f in features[:2] for v in flat(f["geometry"]["coordinates"]))
assert all(isinstance(f["kelshp:invalid"], str) for f in features[2:]), features
assert all("kelshp:invalid" not in f for f in features[:2]), features
)";
  // The type, its GeoJSON name, the paths and circles drawn (every vertex that is a number).
  std::tuple<std::int32_t, std::string, std::string> cases[] = {{3, "LineString", "4 0\n"},
                                                                {8, "MultiPoint", "0 8\n"}};
  for (auto& [type, geometry, elements] : cases) {
    std::vector<Bytes> records;
    for (const Pts& pts : shapes) records.push_back(shapeContent(type, pts));
    writeSet(dir, shapefileOf(type, records, dbfFile(4), {0, 0, 2, 2}), "far");
    dir.write("far.json", run(kelshp + "dump " + path("far")));
    run(python + quote(dumped) + " " + path("far.json") + " " + geometry);
    Outcome render = execute(kelshp + "render " + path("far") + " -o " + path("far.svg"));
    EXPECT_EQ(render.status, 0);
    EXPECT_EQ(std::count(render.err.begin(), render.err.end(), '\n'), 1) << render.err;
    EXPECT_EQ(run(python + quote(kDrawn) + " " + path("far.svg")), elements) << geometry;
  }
}

// Every sample layer and corpus file, of every shape type, with Z and M values and null shapes:
// the copy's .shp and .shx are the source's to the byte, its .prj and .cpg are the source's or,
// like them, missing, GDAL reads the same encoding, columns, values and coordinates from both, and
// the copy is regular. Of the sources that are not, copy says what it writes otherwise. pyshp
// declares no code page (no .cpg, no language mark): the Windows-1252 of its text is guessed, said.
TEST_F(Kelshp, CopyKeepsEverySampleAndCorpusLayer) {
  const std::vector<std::string> sources = sampleAndCorpusLayers();
  std::filesystem::create_directory(dir.native("copy"));
  const std::map<std::string, std::string> irregular = {
      // Bytes behind each record's fields, which the copy leaves out.
      {"storms_xyzm", "bytes of contents; the copy's holds"},
      {"storms_xyzm_feature", "bytes of contents; the copy's holds"},
      {"pyshp_multipatch", "the header's Z range 0 to 0 is not what the values make"}};
  auto file = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::pair(in.is_open(), std::string(std::istreambuf_iterator<char>(in), {}));
  };
  for (const std::string& source : sources) {
    std::string name = std::filesystem::path(source).filename().string();
    std::string copy = dir.native("copy/" + name);
    SCOPED_TRACE(source);
    Outcome r = execute(kelshp + "copy " + quote(source) + " " + quote(copy));
    EXPECT_EQ(r.status, 0);
    auto said = irregular.find(name);
    if (said == irregular.end()) {
      bool guessed = name.starts_with("pyshp_") && name != "pyshp_empty";  // text beyond ASCII
      EXPECT_EQ(r.err, guessed ? "kelshp: " + source +
                                     ".dbf: no code page declared; the text reads as CP1252 "
                                     "(guessed)\n"
                               : "");
      for (std::string ext : {".shp", ".shx"})
        EXPECT_TRUE(file(source + ext) == file(copy + ext)) << ext;
    } else {
      EXPECT_NE(r.err.find(said->second), std::string::npos) << r.err;
    }
    for (std::string ext : {".prj", ".cpg"}) EXPECT_EQ(file(source + ext), file(copy + ext)) << ext;
    EXPECT_EQ(gdalDumpOf(copy + ".shp", "--typed"), gdalDumpOf(source + ".shp", "--typed"));
    std::string check = execute(kelshp + "check " + quote(copy)).out;
    EXPECT_TRUE(grep(check, R"(.*\.sh[px]: .*\((warning|error)\))").empty()) << check;
  }
}

// The table's columns and rows go over as bytes: letters that the engine writes no values of, a
// column of width 0, the language driver mark, a deleted row; a flag that is neither a blank nor
// '*' becomes a blank, as readers take it. The target's old .cpg and .prj go: the source has none.
TEST_F(Kelshp, CopyKeepsEveryColumnAndRowAsItLies) {
  const std::string binary("\x01\0\0\x80", 4), stamp("\0\0\0\0\xff\x7f", 6);
  std::vector<std::string> rows;
  for (std::string flag : {" ", "*", "#"})
    rows.push_back(flag + "x" + binary + "  1.50" + stamp + "T");
  File dbf = dbfFile(
      3,
      {{"A", 'C', 1}, {"E", 'C', 0}, {"I", 'I', 4}, {"F", 'F', 6, 2}, {"T", '@', 6}, {"L", 'L', 1}},
      rows);
  dbf[29] = 0x57;
  std::vector<Bytes> points;
  for (double x : {1.0, 2.0, 3.0}) points.push_back(shapeContent(1, {{x, 2}}));
  writeSet(dir, shapefileOf(1, points, dbf, {1, 2, 3, 2}), "cols");
  run(kelshp + "copy " + path("lin") + " " + path("out"));
  dir.write("out.cpg", "UTF-8");
  ASSERT_FALSE(dir.read("out.prj").empty());
  Outcome copy = execute(kelshp + "copy " + path("cols") + " " + path("out"));
  EXPECT_EQ(copy.status, 0);
  EXPECT_NE(copy.err.find("record 3: the deletion flag is byte 35"), std::string::npos) << copy.err;
  EXPECT_EQ(dir.read("out.shp"), dir.read("cols.shp"));
  File out = dir.read("out.dbf");
  dbf[33 + 6 * 32 + 2 * 19] = ' ';
  EXPECT_EQ(out, withDateOf(dbf, out));
  for (std::string ext : {".cpg", ".prj"})
    EXPECT_FALSE(std::filesystem::exists(dir.native("out" + ext))) << ext;
}

// What the engine reads of a source that is not regular is copied into a regular file, each
// irregularity said in one line; the shapes in the index's order, each with its row.
TEST_F(Kelshp, CopyWritesIrregularSourcesRegularAndSaysWhy) {
  std::vector<Bytes> records;
  Pts all;
  for (const auto& [pts, starts] : sampleShapes(kel::kelPolyLine)) {
    records.push_back(shapeContent(kel::kelPolyLine, pts, starts, extentsOf(pts)));
    all.insert(all.end(), pts.begin(), pts.end());
  }
  ShapefileFiles regular = sampleFiles(kel::kelPolyLine);
  ShapefileFiles inIndexOrder =
      shapefileOf(kel::kelPolyLine, {records[0], records[2], records[1]}, {}, extentsOf(all));
  File reordered = regular.shx;  // its entries 2 and 3 swapped
  std::swap_ranges(reordered.begin() + 108, reordered.begin() + 116, reordered.begin() + 116);
  // A fourth record, which the index does not give.
  File extra = shapefileOf(kel::kelPolyLine, {records[0], records[1], records[2], records[0]}, {},
                           extentsOf(all))
                   .shp;
  File oneRow = regular.dbf;
  oneRow[4] = 1;
  const std::string rows = kSampleRows[0] + kSampleRows[1] + kSampleRows[2];
  const std::string firstOnly = kSampleRows[0] + std::string(2 * kSampleRows[0].size(), ' ');
  const std::string lies = ": the record lies here, not at byte";
  const std::vector<std::string> outOfOrder = {
      "record 2: the record is numbered 3", "record 2" + lies, "record 3: the record is numbered 2",
      "record 3" + lies};
  struct Case {
    std::string name;
    File shp, shx, dbf;  // empty: missing
    std::vector<std::string> said;
    const ShapefileFiles& copied;
    std::string rows;
  } cases[] = {
      {"noindex", regular.shp, {}, regular.dbf, {"there is no index file"}, regular, rows},
      {"notable", regular.shp, regular.shx, {}, {"there is no table"}, regular, "   "},
      {"extra", extra, regular.shx, regular.dbf, {"bytes behind the records"}, regular, rows},
      {"onerow", regular.shp, regular.shx, oneRow, {"holds 1 rows for 3"}, regular, firstOnly},
      {"reordered", regular.shp, reordered, regular.dbf, outOfOrder, inIndexOrder, rows},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dir.write(c.name + ".shp", c.shp);
    if (!c.shx.empty()) dir.write(c.name + ".shx", c.shx);
    if (!c.dbf.empty()) dir.write(c.name + ".dbf", c.dbf);
    if (!c.dbf.empty()) dir.write(c.name + ".cpg", "1252");  // not to guess the sample's text
    Outcome copy = execute(kelshp + "copy " + path(c.name) + " " + path("copy"));
    EXPECT_EQ(copy.status, 0);
    EXPECT_EQ(std::count(copy.err.begin(), copy.err.end(), '\n'), std::ssize(c.said)) << copy.err;
    for (const std::string& said : c.said)
      EXPECT_NE(copy.err.find(said), std::string::npos) << said;
    EXPECT_EQ(run(kelshp + "check " + path("copy")), dir.native("copy") + ": regular\n");
    EXPECT_EQ(dir.read("copy.shp"), c.copied.shp);
    EXPECT_EQ(dir.read("copy.shx"), c.copied.shx);
    File dbf = dir.read("copy.dbf");
    std::size_t at = dbf[8] | dbf[9] << 8;
    EXPECT_EQ(std::string(dbf.begin() + at, dbf.end() - 1), c.rows);
  }
}

// A copy that is refused or fails says why in one line, exit status 1, and touches nothing: not
// the source, which it may not write over under any name, nor the target's old files.
TEST_F(Kelshp, CopyRefusalsLeaveEveryFileAsItWas) {
  run(kelshp + "copy " + path("poly") + " " + path("old"));
  std::filesystem::create_directory_symlink(dir.str(), dir.native("here"));
  std::filesystem::create_hard_link(dir.native("poly.dbf"), dir.native("linked.dbf"));
  for (std::string ext : {".shp", ".shx", ".dbf"}) {
    File bytes = dir.read("lin" + ext), broken = bytes;
    if (ext == ".shp") broken[148] = 0x7F, bytes[108] = 5;  // record 1: 127 points; a Polygon
    dir.write("broken" + ext, broken);
    dir.write("mixed" + ext, bytes);
  }
  auto files = [&] {
    std::map<std::string, File> bytes;
    for (const auto& e : std::filesystem::directory_iterator(dir.str()))
      if (e.is_regular_file()) bytes[e.path().filename()] = dir.read(e.path().filename());
    return bytes;
  };
  const std::map<std::string, File> before = files();
  // The arguments, and what the last line says.
  std::pair<std::string, std::string> cases[] = {
      {"poly poly.shp", "poly.shp: is the source's own file"},
      {"poly here/poly", "here/poly.shp: is the source's own file (" + dir.native("poly.shp")},
      {"poly linked", "linked.dbf: is the source's own file (" + dir.native("poly.dbf")},
      {"broken old", "broken.shp: offset 144: record 1: its 1 parts and 127 points need"},
      {"mixed old", "old.shp: offset 100: record 1: a Polygon shape cannot go into a PolyLine"},
      {"poly no-such-dir/poly", dir.native("no-such-dir/poly")},
  };
  for (auto& [args, said] : cases) {
    Outcome copy = execute("cd " + path("") + " && " + kelshp + "copy " + args);
    SCOPED_TRACE(args + ": " + copy.err);
    EXPECT_EQ(copy.status, 1);
    std::size_t last = copy.err.rfind('\n', copy.err.size() - 2);
    EXPECT_NE(copy.err.find(said, last == std::string::npos ? 0 : last), std::string::npos);
    EXPECT_TRUE(files() == before);
  }
}

// Ctrl-C, a kill and a hang-up while copy writes: kelshp exits as the shell expects for the
// signal, and leaves the old layer and no file of its own.
TEST_F(Kelshp, ASignalLeavesTheOldLayerAndNoTemporaryFile) {
  const std::vector<EngineRecord> records = engineRecords(fmt::ShapeType::PointM, 40000);
  writeLayer(dir.native("big"), fmt::ShapeType::PointM, records);
  run(kelshp + "copy " + path("poly") + " " + path("old"));
  const DirectoryPicture before = pictureOf(dir);
  for (auto [signal, status] : {std::pair{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
    SCOPED_TRACE(signal);
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      std::freopen("/dev/null", "w", stderr);
      execl(KELSHP_PATH, KELSHP_PATH, "copy", dir.native("big").c_str(),
            dir.native("old").c_str(), nullptr);
      _exit(127);
    }
    // The signal comes once the new files are being written.
    bool writing = false;
    for (int waited = 0; !writing && waited < 20000; ++waited) {
      for (const auto& entry : std::filesystem::directory_iterator(dir.str())) {
        writing = writing || entry.path().filename().string().ends_with(".tmp");
      }
      if (!writing) usleep(100);
    }
    kill(child, signal);
    int got = 0;
    ASSERT_EQ(waitpid(child, &got, 0), child);
    EXPECT_TRUE(writing);
    ASSERT_TRUE(WIFEXITED(got)) << got;
    EXPECT_EQ(WEXITSTATUS(got), status);
    DirectoryPicture after = pictureOf(dir);
    for (const auto& [name, bytes] : after) EXPECT_EQ(before.count(name), 1u) << name;
    EXPECT_TRUE(after == before);
  }
}

TEST_F(Kelshp, RenderDrawsOneElementPerShape) {
  run(kelshp + "demo " + path("demo"));
  std::pair<std::string, std::string> cases[] = {
      {"poly", "2 0\n"}, {"lin", "2 0\n"}, {"demo/roads", "3 0\n"}, {"demo/places", "0 3\n"}};
  for (auto& [file, pathsAndCircles] : cases) {
    run(kelshp + "render " + path(file) + " -o " + path("out.svg"));
    EXPECT_EQ(run(python + quote(kDrawn) + " " + path("out.svg")), pathsAndCircles) << file;
  }
  EXPECT_EQ(execute(kelshp + "render " + path("poly")).status, 2);
}

// An index of many entries that all point at one record, each giving it a wrong length: check keeps
// a hundred findings of a kind and counts the rest, render writes the picture as it draws it, and
// memory grows with neither.
TEST_F(Kelshp, MemoryStaysBoundedWhateverTheIndexClaims) {
  for (std::int32_t entries : {1, 200000}) {
    std::string stem = entries == 1 ? "one" : "many";
    Bytes shx = fileHeader(50 + 4 * entries, 1);
    for (std::int32_t i = 0; i < entries; ++i) shx.i32be(50).i32be(8);  // 16 bytes of 20
    dir.write(stem + ".shp", shapefileOf(1, {shapeContent(1, {{1, 2}})}, {}).shp);
    dir.write(stem + ".shx", shx.vec());
  }
  Outcome check = execute(kelshp + "check " + path("many"));
  EXPECT_NE(check.out.find(dir.native("many.shx") +
                           ": and 199900 more: the index gives a content length of N bytes; the "
                           "record says N (warning)\n"),
            std::string::npos)
      << check.out;
  EXPECT_TRUE(check.out.ends_with(dir.native("many") + ": 1 errors, 200003 warnings\n"))
      << check.out;
  if (kAddressSanitizer) GTEST_SKIP() << "memory is measured without AddressSanitizer";
  for (std::string command : {std::string("check %"), "render % -o " + path("out.svg")}) {
    auto peak = [&](const std::string& stem) {
      std::string line = command;
      return peakKiB(kelshp + line.replace(line.find('%'), 1, path(stem)));
    };
    EXPECT_LT(peak("many") - peak("one"), 4 * 1024) << command;
  }
}

// The .prj and .cpg files are copied whole, whatever their size.
TEST_F(Kelshp, CopyTakesTheProjectionAndCodePageWhole) {
  dir.write("lin.prj", "PROJCS[" + std::string(3 << 20, 'p') + "]");
  dir.write("lin.cpg", "UTF-8" + std::string(2 << 20, ' '));
  run(kelshp + "copy " + path("lin") + " " + path("copy"));
  for (std::string ext : {".prj", ".cpg"})
    EXPECT_TRUE(dir.read("copy" + ext) == dir.read("lin" + ext)) << ext;  // not printed: megabytes
}

TEST_F(Kelshp, CheckNamesTheOffsetOfEachFault) {
  File dbf = dir.read("lin.dbf");
  std::size_t shpSize = dir.read("lin.shp").size(), firstRecord = dbf[8] | dbf[9] << 8;
  // The file, the byte patched (at or past the end the file grows), its value, the offset reported
  // and its kind; only an error fails the check.
  std::tuple<std::string, std::size_t, unsigned char, std::size_t, std::string> cases[] = {
      {".shp", 3, 0x0B, 0, "error"},                       // file code 9995
      {".shx", 103, 0x36, 100, "warning"},                 // entry 1 points 4 words past record 1
      {".shp", 108, 5, 108, "warning"},                    // a Polygon record in a PolyLine file
      {".dbf", 4, 3, 4, "error"},                          // 3 table records for 2 shapes
      {".dbf", firstRecord, '*', firstRecord, "warning"},  // record 1 deleted
      {".shp", shpSize + 3, 0, shpSize, "warning"},        // 4 bytes behind the last record
      {".dbf", 48, 0, 48, "warning"},                      // column 1 of width 0
  };
  for (auto& [patched, at, byte, reported, kind] : cases) {
    for (std::string ext : {".shp", ".shx", ".dbf"}) {
      File bytes = dir.read("lin" + ext);
      if (ext == patched) bytes.resize(std::max(bytes.size(), at + 1)), bytes[at] = byte;
      dir.write("bad" + ext, bytes);
    }
    Outcome check = execute(kelshp + "check " + path("bad"));
    std::string where = dir.native("bad") + patched + ": offset " + std::to_string(reported) + ": ";
    EXPECT_EQ(check.status, kind == "error" ? 1 : 0) << where;
    std::size_t line = check.out.find(where);
    ASSERT_NE(line, std::string::npos) << where << " missing in\n" << check.out;
    std::string finding = check.out.substr(line, check.out.find('\n', line) - line);
    EXPECT_TRUE(finding.ends_with(" (" + kind + ")")) << finding;
  }
  // A PolyLineZ file that GDAL writes reads whole: check passes it, and tells apart that the object
  // model refuses it; info reads it whole.
  dir.write("z.json", R"({"type":"Feature","properties":{"NAME":"z"},
    "geometry":{"type":"LineString","coordinates":[[0,0,1],[1,1,2]]}})");
  run("ogr2ogr " + path("z.shp") + " " + path("z.json"));
  Outcome check = execute(kelshp + "check " + path("z"));
  EXPECT_EQ(check.status, 0);
  EXPECT_EQ(check.out, dir.native("z.shp") +
                           ": offset 32: the object model reads only Point, PolyLine, Polygon and "
                           "MultiPoint files, not PolyLineZ ones: it reads none of the shapes, and "
                           "refuses a table of 1 rows (object model)\n" +
                           dir.native("z") +
                           ": 0 errors, 0 warnings; object model: 1 refusals, 0 differences\n");
  EXPECT_NE(run(kelshp + "info " + path("z")).find("PolyLineZ (13)"), std::string::npos);
}

TEST_F(Kelshp, CheckPassesEveryLayerThatReadersReadWhole) {
  std::vector<std::string> layers = sampleAndCorpusLayers();
  std::size_t engine = layers.size();
  for (std::int32_t code : {1, 3, 5, 8, 11, 13, 15, 18, 21, 23, 25, 28, 31}) {
    auto type = static_cast<fmt::ShapeType>(code);
    layers.push_back(dir.native("engine" + std::to_string(code)));
    writeLayer(layers.back() + ".shp", type, engineRecords(type));
  }
  std::size_t clean = 0;
  for (std::size_t i = 0; i < layers.size(); ++i) {
    Outcome gdal = execute("ogrinfo -ro -al -q " + quote(layers[i] + ".shp") + " >/dev/null");
    if (gdal.status != 0 || !gdal.err.empty()) continue;
    ++clean;
    Outcome check = execute(kelshp + "check " + quote(layers[i]));
    std::string tally = check.out.substr(check.out.rfind('\n', check.out.size() - 2) + 1);
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_TRUE(tally.find(": regular\n") != std::string::npos ||
                tally.find(i < engine ? ": 0 errors, " : ": 0 errors, 0 warnings") !=
                    std::string::npos)
        << check.out;
  }
  EXPECT_GE(clean, 18u + 32u + 13u);  // GDAL reads them all
}

TEST_F(Kelshp, FailuresSayWhatWentWrong) {
  // half.* lacks its .dbf: the commands that only read take its shapes without attributes.
  for (std::string ext : {".shp", ".shx"}) dir.write("half" + ext, dir.read("lin" + ext));
  std::map<std::string, std::string> more = {{"copy", path("out")},
                                             {"render", "-o " + path("out.svg")}};
  for (std::string command : {"info", "dump", "check", "copy", "render"}) {
    for (std::string name : {"missing", "half"}) {
      Outcome r = execute(kelshp + command + " " + path(name) + " " + more[command]);
      SCOPED_TRACE(command + " " + name + ": " + r.err);
      bool reads = name == "half" && command != "check";
      EXPECT_EQ(r.status == 0, reads);
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
      EXPECT_NE(r.err.find(dir.native(name + (name == "half" ? ".dbf" : ".shp"))),
                std::string::npos);
    }
  }
  EXPECT_EQ(execute(kelshp + "frobnicate").status, 2);
  EXPECT_EQ(execute(kelshp).status, 2);
  // Arguments that cannot be taken: exit 2 and a sentence that names what is wrong.
  const std::string svg = " -o " + path("out.svg");
  const std::pair<std::string, std::string> misuses[] = {
      {"render " + path("lin") + svg + " --width abc", "--width takes a number; 'abc' is none"},
      {"render " + path("lin") + svg + " --width=300", ""},  // taken: a width in the range
      {"render " + path("lin") + svg + " --width=30", "from 50 to 100000; 30 is out of"},
      {"render " + path("lin") + " --width", "--width needs a value"},
      {"render " + path("lin"), "-o FILE.svg names the picture"},
      {"render " + path("lin") + " -o " + path("c.png"), "c.png' does not end in .svg"},
      {"dump --raw=1 " + path("lin"), "--raw takes no value"},
      {"dump --frob=2 " + path("lin"), "there is no option --frob\n"},
      {"info -q " + path("lin"), "there is no option -q\n"},
      {"copy " + path("lin"), "takes SRC DST; 1 operand given"},
      {"info -- --help", "--help.shp: no such file"},  // after --, an operand
  };
  for (const auto& [arguments, sentence] : misuses) {
    Outcome r = execute(kelshp + arguments);
    SCOPED_TRACE(arguments + ": " + r.err);
    EXPECT_EQ(r.status, sentence.empty() ? 0 : sentence.ends_with("no such file") ? 1 : 2);
    EXPECT_NE(r.err.find(sentence), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(path("c.png")));
  EXPECT_EQ(run(kelshp + "--version"), "kelshp " KEL_VERSION "\n");
  for (std::string command : {"", "demo", "info", "dump", "copy", "convert", "render", "check"}) {
    std::string usage = "usage: kelshp " + (command.empty() ? "COMMAND" : command) + " ";
    EXPECT_EQ(run(kelshp + command + " --help").rfind(usage, 0), 0u) << usage;
  }
  // The manual page renders whole: a line that begins with a dot is a request, and groff warns.
  Outcome man = execute("groff -ww -z -man " + quote(kSourceDir + "/doc/kelshp.1"));
  EXPECT_EQ(std::pair(man.status, man.err), std::pair(0, std::string()));
}

}  // namespace
