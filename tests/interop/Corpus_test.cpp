// Shapefiles that GDAL, shapelib and pyshp write (tests/interop/corpus/make_corpus.py) must read in
// the format engine as GDAL reads them and in the object model as the engine reads them; written
// back by the object model, they must come out as they were, and ogrinfo must read the copy
// without a word on standard error.

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

#include "support/EngineReading.h"

using namespace kel;
using namespace kel::testing;

namespace {

const std::string kMakeCorpus =
    "/usr/bin/python3 " + quote(kSourceDir + "/tests/interop/corpus/make_corpus.py");

// Each writer's Point, MultiPoint, multi-part PolyLine, Polygon (holes, several outer rings)
// and record-less file share the generator's shapes and rows: Windows-1252 text, empty and blank
// values, Number columns with and without decimals, Date and Logical where the tool has them,
// names of 10 characters and longer ones cut by the tool, coordinates at the ends of the double
// range and a line of 30,000 vertices. gdal_many holds 30,000 points made from CSV, gdal_utf8
// text in UTF-8, gdal_nocolumns a table without columns, pyshp_nullshape a null shape second. The
// same shapes come with Z and M values and a null shape in every Z and M type (pyshp, with F
// columns, and GDAL), and a MultiPatch of every part type, which the object model refuses.
const std::string kStems[] = {
    "gdal_point",     "gdal_multipoint",     "gdal_line",         "gdal_polygon",
    "gdal_empty",     "gdal_many",           "gdal_utf8",         "gdal_nocolumns",
    "shapelib_point", "shapelib_multipoint", "shapelib_line",     "shapelib_polygon",
    "shapelib_empty", "pyshp_point",         "pyshp_multipoint",  "pyshp_line",
    "pyshp_polygon",  "pyshp_empty",         "pyshp_nullshape",   "pyshp_pointz",
    "pyshp_linez",    "pyshp_polygonz",      "pyshp_multipointz", "pyshp_pointm",
    "pyshp_linem",    "pyshp_polygonm",      "pyshp_multipointm", "pyshp_multipatch",
    "gdal_pointz",    "gdal_linezm",         "gdal_polygonz",     "gdal_multipointm"};

class CorpusTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { run(kMakeCorpus + " " + quote(dir.str()) + " " + GetParam()); }
  TempDir dir;
};

TEST_P(CorpusTest, ReadsAsGdalAndWritesBackAsItWas) {
  const std::string& stem = GetParam();
  expectEngineReadsAsGdal(dir.native(stem + ".shp"));
  auto file = makeRef<Shapefile>();
  if (!modelReadsAsEngine(*file, dir.str(), stem)) return;
  expectWrittenBackAsItWas(*file, dir, stem);
  Outcome ogrinfo =
      execute("ogrinfo -ro -al -q " + quote(dir.native("back/" + stem + ".shp")) + " >/dev/null");
  EXPECT_EQ(std::pair(ogrinfo.status, ogrinfo.err), std::pair(0, std::string()));
}

INSTANTIATE_TEST_SUITE_P(Writers, CorpusTest, ::testing::ValuesIn(kStems),
                         [](const auto& info) { return info.param; });

TEST(CorpusListTest, EveryFileTheGeneratorMakesIsTested) {
  std::istringstream out(run(kMakeCorpus + " --list"));
  std::set<std::string> listed, tested(std::begin(kStems), std::end(kStems));
  for (std::string stem; out >> stem;) listed.insert(stem);
  EXPECT_EQ(listed, tested);
}

}  // namespace
