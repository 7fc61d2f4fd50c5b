// kelshp run as a user runs it, its outputs held against GDAL and Python where they can judge.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace {

struct Result {
  int status = -1;
  std::string out, err;
};

// The capture groups of every line of text that the pattern matches as a whole.
std::vector<std::vector<std::string>> grep(const std::string& text, const std::string& pattern) {
  std::vector<std::vector<std::string>> found;
  std::istringstream lines(text);
  std::regex re(pattern);
  std::smatch m;
  for (std::string line; std::getline(lines, line);)
    if (std::regex_match(line, m, re)) found.emplace_back(m.begin() + 1, m.end());
  return found;
}

std::size_t le16(const std::string& bytes, std::size_t at) {
  return std::uint8_t(bytes[at]) | std::uint8_t(bytes[at + 1]) << 8;
}

// "NAME Character 80 0" for each column that kelshp info lists, or ogrinfo -so in its own words.
std::vector<std::string> columns(const std::string& text, bool ogr) {
  std::vector<std::string> found;
  for (auto& c : grep(text, ogr ? R"((\w+): (\w+) \((\d+)\.(\d+)\))"
                                : R"(\s+(\S+)\s+(\w+)\s+width (\d+)\s+precision (\d+))")) {
    std::string type = !ogr ? c[1] : c[1] == "String" ? "Character" : "Number";
    found.push_back(c[0] + " " + type + " " + c[2] + " " + c[3]);
  }
  return found;
}

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

class Kelshp : public ::testing::Test {
 protected:
  // poly.* and lin.* as GDAL writes them.
  void SetUp() override {
    for (const char* name : {"poly", "lin"}) {
      put(std::string(name) + ".json", name[0] == 'p' ? kPolygons : kLines);
      peer("ogr2ogr " + q(at(name) + ".shp") + " " + q(at(name) + ".json"));
    }
  }

  static std::string q(const std::string& s) { return "'" + s + "'"; }
  std::string at(const std::string& name) const { return dir.str() + "/" + name; }
  void put(const std::string& name, const std::string& bytes) const {
    std::ofstream(at(name), std::ios::binary) << bytes;
  }
  std::string get(const std::string& name) const {
    std::ifstream in(at(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  Result run(const std::string& command) const {
    int status =
        std::system((command + " >" + q(at("out.txt")) + " 2>" + q(at("err.txt"))).c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, get("out.txt"), get("err.txt")};
  }
  Result kelshp(const std::string& args) const { return run(q(KELSHP_PATH) + " " + args); }
  // A peer tool or script, which must succeed for the test to mean anything.
  std::string peer(const std::string& command) const {
    Result r = run(command);
    EXPECT_EQ(r.status, 0) << command << "\n" << r.out << r.err;
    return r.out;
  }
  // Debian's python3, not the one first on PATH.
  std::string python(const std::string& script, const std::string& args) const {
    return peer("/usr/bin/python3 -c " + q(script) + " " + args);
  }

  kel::testing::TempDir dir;
};

TEST_F(Kelshp, DemoPrintsWhatPeersReadFromTheFilesItWrote) {
  Result demo = kelshp("demo " + q(at("demo")));
  ASSERT_EQ(demo.status, 0) << demo.err;
  std::vector<std::string> printed, peerRead;
  for (auto& v : grep(demo.out, R"(\s+(\w+)\s+"\s*(.*?)\s*")"))
    printed.push_back(v[0] + "=" + v[1]);
  for (const char* name : {"roads", "places"}) {
    std::string stem = at("demo/") + name;
    Result check = kelshp("check " + q(stem));
    EXPECT_EQ(std::make_pair(check.status, check.out), std::make_pair(0, stem + ": regular\n"));
    Result ogr = run("ogrinfo --config SHAPE_ENCODING CP1252 -al -q " + q(stem + ".shp"));
    EXPECT_EQ(ogr.status, 0);
    EXPECT_EQ(ogr.err, "");
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
    std::string ogr = peer("ogrinfo -so -al " + q(at(arg.substr(0, arg.find('.'))) + ".shp"));
    Result info = kelshp("info " + q(at(arg)));
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("shape type  " + type + "\n"), std::string::npos) << info.out;
    EXPECT_EQ(grep(info.out, R"(\s+records\s+(\d+))"), grep(ogr, R"(Feature Count: (\d+))"));
    auto ours = grep(info.out, R"(\s+extent\s+\((\S+), (\S+)\) - \((\S+), (\S+)\))");
    auto theirs = grep(ogr, R"(Extent: \((\S+), (\S+)\) - \((\S+), (\S+)\))");
    ASSERT_TRUE(ours.size() == 1 && theirs.size() == 1) << info.out << ogr;
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(std::stod(ours[0][i]), std::stod(theirs[0][i]), 1e-6);
    EXPECT_EQ(columns(info.out, false), columns(ogr, true));
  }
}

TEST_F(Kelshp, DumpGivesTheGeometriesOfGdalsGeoJson) {
  const char* compare = R"(
import json, sys
ours, gdal = (json.load(open(p)) for p in sys.argv[1:])
geometries = [f["geometry"] for f in ours["features"]]
assert geometries == [f["geometry"] for f in gdal["features"]], geometries
def area(ring): return sum(a[0] * b[1] - b[0] * a[1] for a, b in zip(ring, ring[1:]))
for g in geometries:
  for p in {"Polygon": [g["coordinates"]], "MultiPolygon": g["coordinates"]}.get(g["type"], []):
    assert area(p[0]) > 0 and all(area(h) < 0 for h in p[1:]), p
)";
  for (std::string name : {"poly", "lin"}) {
    Result dump = kelshp("dump " + q(at(name)));
    ASSERT_EQ(dump.status, 0) << dump.err;
    put("ours.json", dump.out);
    peer("ogr2ogr -f GeoJSON -lco RFC7946=YES " + q(at("gdal.json")) + " " + q(at(name) + ".shp"));
    python(compare, q(at("ours.json")) + " " + q(at("gdal.json")));
  }
  // Properties are the table's raw text: an 80-wide column keeps its blanks.
  std::string poly = kelshp("dump " + q(at("poly"))).out;
  EXPECT_NE(poly.find(R"("NAME":")" + std::string("hole").append(76, ' ') + '"'),
            std::string::npos);
  EXPECT_NE(poly.find(R"("N":"        1")"), std::string::npos);
}

TEST_F(Kelshp, DumpStaysValidJsonWhateverBytesTheTableHolds) {
  std::string dbf = get("lin.dbf");
  std::size_t first = le16(dbf, 8), length = le16(dbf, 10), n = 0;
  // Every byte value 0-255 in turn across the fields of both records, deletion flags left alone.
  for (std::size_t r = 0; r < 2; ++r)
    for (std::size_t k = 1; k < length; ++k) dbf[first + r * length + k] = char(n++ % 256);
  put("lin.dbf", dbf);
  Result dump = kelshp("dump " + q(at("lin")));
  ASSERT_EQ(dump.status, 0) << dump.err;
  put("raw.json", dump.out);
  python(R"(
import json, sys
values = [v for f in json.load(open(sys.argv[1]))["features"] for v in f["properties"].values()]
assert all(len(v) == 80 for v in values), values
assert [ord(c) for c in "".join(values)[:128]] == list(range(128)), values
)",
         q(at("raw.json")));
}

TEST_F(Kelshp, CopyWritesPeerFilesBackByteForByte) {
  for (std::string name : {"poly", "lin"}) {
    ASSERT_EQ(kelshp("check " + q(at(name))).status, 0) << "GDAL's " << name << " is not regular";
    Result copy = kelshp("copy " + q(at(name)) + " " + q(at("copy-" + name + ".shp")));
    ASSERT_EQ(copy.status, 0) << copy.err;
    for (std::string ext : {".shp", ".shx"})
      EXPECT_TRUE(get(name + ext) == get("copy-" + name + ext)) << name + ext;
  }
  Result copy = kelshp("copy " + q(at("poly")) + " " + q(at("no-such-dir/poly")));
  EXPECT_NE(copy.status, 0);
  EXPECT_NE(copy.err.find(at("no-such-dir/poly")), std::string::npos) << copy.err;
}

TEST_F(Kelshp, RenderDrawsOneElementPerShape) {
  ASSERT_EQ(kelshp("demo " + q(at("demo"))).status, 0);
  const char* count = R"(
import sys, xml.etree.ElementTree as ET
svg = ET.parse(sys.argv[1]).getroot()
print(*(len(list(svg.iter("{http://www.w3.org/2000/svg}" + e))) for e in ("path", "circle")))
)";
  std::pair<std::string, std::string> cases[] = {
      {"poly", "2 0\n"}, {"lin", "2 0\n"}, {"demo/roads", "3 0\n"}, {"demo/places", "0 3\n"}};
  for (auto& [file, pathsAndCircles] : cases) {
    Result render = kelshp("render " + q(at(file)) + " -o " + q(at("out.svg")));
    ASSERT_EQ(render.status, 0) << render.err;
    EXPECT_EQ(python(count, q(at("out.svg"))), pathsAndCircles) << file;
  }
  EXPECT_EQ(kelshp("render " + q(at("poly"))).status, 2);
}

TEST_F(Kelshp, CheckNamesTheOffsetOfEachFault) {
  std::size_t shpSize = get("lin.shp").size(), firstRecord = le16(get("lin.dbf"), 8);
  struct {
    const char* ext;
    std::size_t at;  // patched there; at or past the end the file grows
    char byte;
    std::size_t reported;
  } cases[] = {
      {".shp", 3, 0x0B, 0},                     // file code 9995
      {".shx", 103, 0x36, 100},                 // entry 1 points 4 words past record 1
      {".shp", 108, 5, 108},                    // a Polygon record in a PolyLine file
      {".dbf", 4, 3, 4},                        // 3 table records for 2 shapes
      {".dbf", firstRecord, '*', firstRecord},  // record 1 deleted
      {".shp", shpSize + 3, 0, shpSize},        // 4 bytes behind the last record
  };
  for (auto& c : cases) {
    for (std::string ext : {".shp", ".shx", ".dbf"}) {
      std::string bytes = get("lin" + ext);
      if (ext == c.ext) bytes.resize(std::max(bytes.size(), c.at + 1)), bytes[c.at] = c.byte;
      put("bad" + ext, bytes);
    }
    Result check = kelshp("check " + q(at("bad")));
    std::string where = at("bad") + c.ext + ": offset " + std::to_string(c.reported) + ": ";
    EXPECT_EQ(check.status, 1) << where;
    EXPECT_NE(check.out.find(where), std::string::npos) << where << " missing in\n" << check.out;
  }
}

TEST_F(Kelshp, FailuresSayWhatWentWrong) {
  put("half.shp", get("lin.shp"));  // without its .shx and .dbf
  put("half.shx", get("lin.shx"));
  for (std::string command : {"info", "dump", "check", "copy", "render"}) {
    for (std::string name : {"missing", "half"}) {
      std::string args = q(at(name)) + (command == "copy" ? " " + q(at("out")) : "") +
                         (command == "render" ? " -o " + q(at("out.svg")) : "");
      Result r = kelshp(command + " " + args);
      SCOPED_TRACE(command + " " + name + ": " + r.err);
      EXPECT_NE(r.status, 0);
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
      EXPECT_NE(r.err.find(at(name) + (name == "half" ? ".dbf" : ".shp")), std::string::npos);
    }
  }
  EXPECT_EQ(kelshp("frobnicate").status, 2);
  EXPECT_EQ(kelshp("").status, 2);
  for (std::string command : {"", "demo", "info", "dump", "copy", "render", "check"}) {
    Result r = kelshp(command + " --help");
    EXPECT_EQ(r.status, 0) << command;
    std::string usage = "usage: kelshp " + (command.empty() ? "COMMAND" : command) + " ";
    EXPECT_EQ(r.out.rfind(usage, 0), 0u) << r.out;
  }
}

}  // namespace
