#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>

#include "shapefile/WriteFixtures.h"
#include "support/TempDir.h"

namespace kel::writetest {
namespace {

using testing::TempDir;

struct ToolRun {
  std::string out, err;
  int status = -1;
};

ToolRun run(const std::string& command, const TempDir& dir) {
  std::string errPath = dir.str() + "/tool-stderr.txt";
  ToolRun r;
  FILE* pipe = popen(("cd " + dir.str() + " && " + command + " 2>" + errPath).c_str(), "r");
  if (pipe == nullptr) return r;
  char buffer[4096];
  for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) r.out.append(buffer, n);
  r.status = pclose(pipe);
  ByteVec err = dir.read("tool-stderr.txt");
  r.err.assign(err.begin(), err.end());
  std::filesystem::remove(errPath);
  return r;
}

::testing::AssertionResult toolsPresent(std::initializer_list<std::string> tools) {
  for (const std::string& tool : tools) {
    if (std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) != 0) {
      return ::testing::AssertionFailure()
             << tool << " is missing; scripts/install-deps installs gdal-bin, shapelib and "
             << "python3-pyshp";
    }
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> lines(const std::string& text, const std::regex& keep) {
  std::vector<std::string> kept;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    line.erase(line.find_last_not_of(' ') + 1);
    if (std::regex_search(line, keep)) kept.push_back(line);
  }
  return kept;
}

struct Shape {
  Points points;
  std::vector<std::int32_t> laterParts = {};
};
struct PeerCase {
  ShapeTypeConstants type;
  const char* shpdumpName;
  std::vector<Shape> shapes;
  std::vector<std::string> wkt;
};

TEST(WritePeerRead, GdalAndShapelibReadWhatWeWrite) {
  ASSERT_TRUE(toolsPresent({"ogrinfo", "shpdump", "dbfdump"}));
  const std::vector<PeerCase> cases = {
      {kelPoint, "Point", {{{{1, 2}}}, {{{3.5, -4}}}}, {"POINT (1 2)", "POINT (3.5 -4)"}},
      {kelMultiPoint, "MultiPoint", {{{{1, 2}, {3, 4}}}}, {"MULTIPOINT ((1 2),(3 4))"}},
      {kelPolyLine,
       "Arc",
       {{{{0, 0}, {1, 1}, {5, 5}, {6, 7}, {8, 8}}, {2}}},
       {"MULTILINESTRING ((0 0,1 1),(5 5,6 7,8 8))"}},
      // The outer ring runs clockwise and the hole counter-clockwise, as readers expect.
      {kelPolygon,
       "Polygon",
       {{{{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}, {2, 2}, {4, 2}, {4, 4}, {2, 4}, {2, 2}},
         {5}}},
       {"POLYGON ((0 0,0 10,10 10,10 0,0 0),(2 2,4 2,4 4,2 4,2 2))"}},
      {kelPoint, "Point", {}, {}},
  };
  const std::vector<Column> columns = {{u"name", kelFieldTypeCharacter, 10, 0},
                                       {u"pop", kelFieldTypeNumber, 8, 2},
                                       {u"born", kelFieldTypeDate, 8, 0},
                                       {u"ok", kelFieldTypeLogical, 1, 0}};
  for (const PeerCase& c : cases) {
    SCOPED_TRACE(std::string(c.shpdumpName) + " with " + std::to_string(c.shapes.size()));
    TempDir dir;
    std::vector<Ref<ShapeObject>> shapes;
    std::vector<Fields> rows;
    std::vector<std::string> features, dump, records;
    dump.push_back("Shapefile Type: " + std::string(c.shpdumpName) +
                   "   # of Shapes: " + std::to_string(c.shapes.size()));
    for (std::size_t k = 0; k < c.shapes.size(); ++k) {
      const Shape& s = c.shapes[k];
      shapes.push_back(makeShape(c.type, s.points, s.laterParts));
      std::string name = "row" + std::to_string(k + 1);
      rows.push_back({{u"name", std::u16string(name.begin(), name.end())},
                      {u"pop", u"12.50"},
                      {u"born", u"20260305"},
                      {u"ok", u"T"}});
      features.insert(features.end(),
                      {"  name (String) = " + name, "  pop (Real) = 12.50",
                       "  born (Date) = 2026/03/05", "  ok (String) = T", "  " + c.wkt[k]});
      std::size_t parts =
          c.type == kelPolyLine || c.type == kelPolygon ? s.laterParts.size() + 1 : 0;
      dump.push_back("Shape:" + std::to_string(k) + " (" + c.shpdumpName + ")  nVertices=" +
                     std::to_string(s.points.size()) + ", nParts=" + std::to_string(parts));
      for (auto [x, y] : s.points) {
        std::ostringstream vertex;
        vertex << x << "," << y;
        dump.push_back(vertex.str());
      }
      records.insert(records.end(), {"Record: " + std::to_string(k), "name: " + name, "pop: 12.50",
                                     "born: 20260305", "ok: T"});
    }
    auto file = makeFile(c.type, shapes);
    addTable(*file, columns, rows);
    ASSERT_TRUE(file->writeShapefile(std::u16string_view(dir.u16()), u"peer"));

    ToolRun ogr = run("ogrinfo -al -q -geom=ISO_WKT peer.shp", dir);
    EXPECT_EQ(ogr.status, 0) << ogr.err;
    EXPECT_FALSE(std::regex_search(ogr.err, std::regex("ERROR|Warning"))) << ogr.err;
    EXPECT_EQ(lines(ogr.out, std::regex("^  [A-Za-z]+ \\(")), features) << ogr.out;

    ToolRun shp = run("shpdump peer.shp", dir);
    EXPECT_EQ(shp.status, 0) << shp.err;
    std::vector<std::string> seen = lines(shp.out, std::regex("^Shape|^ +(\\+ )?\\("));
    for (std::string& line : seen) {
      std::smatch m;
      if (std::regex_search(line, m, std::regex("^ +(\\+ )?\\(([^,]+),([^,]+), 0\\)"))) {
        line = m[2].str() + "," + m[3].str();
      }
    }
    EXPECT_EQ(seen, dump) << shp.out;

    ToolRun dbf = run("dbfdump -m -r peer.dbf", dir);
    EXPECT_EQ(dbf.status, 0) << dbf.err;
    EXPECT_EQ(lines(dbf.out, std::regex(".")), records) << dbf.out;
  }
}

struct PeerSource {
  const char* what;
  std::vector<std::pair<std::string, std::string>> inputs;
  std::string command;  // makes src.shp, src.shx and src.dbf
};

TEST(WriteRoundTrip, PeerFilesComeBackAsTheyWere) {
  ASSERT_TRUE(
      toolsPresent({"ogr2ogr", "shpcreate", "shpadd", "dbfcreate", "dbfadd", "/usr/bin/python3"}));
  const std::string ogr =
      "ogr2ogr -f 'ESRI Shapefile' src.shp in.csv -oo AUTODETECT_TYPE=YES "
      "-oo KEEP_GEOM_COLUMNS=NO -nlt ";
  const std::string csvHead = "WKT,name,pop,born,n\n";
  // GDAL stores the UTF-8 bytes of "b\u00e9ta", which must come back unchanged through the code
  // page.
  const std::vector<PeerSource> sources = {
      {"ogr2ogr polygons",
       {{"in.csv", csvHead +
                       "\"POLYGON ((0 0,10 0,10 10,0 10,0 0),(2 2,2 4,4 4,4 2,2 2))\",alpha,12.5,"
                       "2026-03-05,7\n\"POLYGON ((20 20,30 20,20 30,20 20))\",b\u00e9ta,-3.25,"
                       "1999-12-31,-12\n"}},
       ogr + "POLYGON"},
      {"ogr2ogr points",
       {{"in.csv", csvHead + "\"POINT (1 2)\",alpha,12.5,2026-03-05,7\n"
                             "\"POINT (-3.5 4.25)\",beta,-3.25,1999-12-31,-12\n"}},
       ogr + "POINT"},
      {"shapelib polylines",
       {},
       "shpcreate src arc && shpadd src 0 0 1 1 + 5 5 6 7 8 8 && shpadd src 2 2 3 3 && "
       "dbfcreate src -s name 12 -n pop 10 2 && dbfadd src alpha 12.5 && dbfadd src beta -3.25"},
      {"pyshp multipoints",
       {{"make.py",
         "import shapefile\n"
         "w = shapefile.Writer('src', shapeType=shapefile.MULTIPOINT)\n"
         "w.field('name', 'C', 10); w.field('n', 'N', 8, 3); w.field('d', 'D'); "
         "w.field('l', 'L')\n"
         "w.multipoint([[1, 2], [3, 4]]); w.record('x', 1.5, '20260305', True)\n"
         "w.multipoint([[-1, -2]]); w.record('yy', -2, '19991231', False)\n"
         "w.close()\n"}},
       "/usr/bin/python3 make.py"},
  };
  for (const PeerSource& source : sources) {
    SCOPED_TRACE(source.what);
    TempDir dir;
    for (const auto& [name, text] : source.inputs) {
      dir.write(name, ByteVec(text.begin(), text.end()));
    }
    ToolRun made = run(source.command, dir);
    ASSERT_EQ(made.status, 0) << made.err;

    auto file = makeRef<Shapefile>();
    ASSERT_TRUE(file->readShapefile(std::u16string_view(dir.u16()), u"src"));
    std::filesystem::create_directory(dir / "out");
    ASSERT_TRUE(file->writeShapefile(std::u16string_view(dir.u16() + u"/out"), u"src"));
    EXPECT_EQ(dir.read("out/src.shp"), dir.read("src.shp"));
    EXPECT_EQ(dir.read("out/src.shx"), dir.read("src.shx"));

    ByteVec ours = dir.read("out/src.dbf"), theirs = dir.read("src.dbf");
    ASSERT_GT(theirs.size(), 32u);
    ASSERT_GT(ours.size(), 32u);
    // Ours carries today's date, zero reserved bytes (no language driver mark) and an end mark.
    std::copy(ours.begin() + 1, ours.begin() + 4, theirs.begin() + 1);
    std::fill(theirs.begin() + 12, theirs.begin() + 32, 0);
    if (theirs.back() != 0x1A) theirs.push_back(0x1A);
    EXPECT_EQ(ours, theirs);
  }
}

}  // namespace
}  // namespace kel::writetest
