// Shapefiles that others wrote must read in the format engine as GDAL reads them and in the object
// model as the engine reads them; written back by the object model, they must come out as they
// were. Two sources: the corpus that GDAL, shapelib and pyshp write at test time
// (tests/interop/corpus/make_corpus.py, whose docstring says what each file holds), and the sample
// layers that Debian packages ship, which scripts/fetch-sample-shapefiles downloads once into the
// build tree (when they cannot be had the tests fail, they do not skip).

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

const std::string kStems[] = {
    "gdal_point",     "gdal_multipoint",     "gdal_line",         "gdal_polygon",
    "gdal_empty",     "gdal_many",           "gdal_utf8",         "gdal_nocolumns",
    "shapelib_point", "shapelib_multipoint", "shapelib_line",     "shapelib_polygon",
    "shapelib_empty", "pyshp_point",         "pyshp_multipoint",  "pyshp_line",
    "pyshp_polygon",  "pyshp_empty",         "pyshp_nullshape",   "pyshp_pointz",
    "pyshp_linez",    "pyshp_polygonz",      "pyshp_multipointz", "pyshp_pointm",
    "pyshp_linem",    "pyshp_polygonm",      "pyshp_multipointm", "pyshp_multipatch",
    "gdal_pointz",    "gdal_linezm",         "gdal_polygonz",     "gdal_multipointm"};

// Among the sample layers: multi-part polygons with holes, a shape of 29,219 points and F columns
// (nybb), text beyond ASCII without a .cpg and Number columns of asterisks (world), tables without
// the end byte, and the storms files, PolyLineZ and PolyLineM, two with no columns at all.
const std::pair<std::string, std::string> kLayers[] = {{"python3-geopandas", "naturalearth_lowres"},
                                                       {"python3-geopandas", "naturalearth_cities"},
                                                       {"python3-geopandas", "nybb"},
                                                       {"r-cran-sf", "nc"},
                                                       {"r-cran-sf", "olinda1"},
                                                       {"r-cran-sf", "storms_xyz"},
                                                       {"r-cran-sf", "storms_xyz_feature"},
                                                       {"r-cran-sf", "storms_xyzm"},
                                                       {"r-cran-sf", "storms_xyzm_feature"},
                                                       {"r-cran-spdata", "world"},
                                                       {"r-cran-spdata", "boston_tracts"},
                                                       {"r-cran-spdata", "NY8_utm18"},
                                                       {"r-cran-spdata", "auckland"},
                                                       {"r-cran-spdata", "baltim"},
                                                       {"r-cran-spdata", "columbus"},
                                                       {"r-cran-spdata", "eire"},
                                                       {"r-cran-spdata", "sids"},
                                                       {"r-cran-spdata", "wheat"}};

// The engine reads `shp`; the object model reads its copy dir/stem, which it then writes back.
// With `table`, ogrinfo must read the copy without a word on standard error, and the written
// table must come back as it was (a sample's F column comes back a Character one).
void expectReadAlikeAndWrittenBack(const std::string& shp, const TempDir& dir,
                                   const std::string& stem, bool table) {
  expectEngineReadsAsGdal(shp);
  auto file = makeRef<Shapefile>();
  if (!modelReadsAsEngine(*file, dir.str(), stem)) return;
  expectWrittenBackAsItWas(*file, dir, stem, table);
  if (!table) return;
  Outcome ogrinfo =
      execute("ogrinfo -ro -al -q " + quote(dir.native("back/" + stem + ".shp")) + " >/dev/null");
  EXPECT_EQ(std::pair(ogrinfo.status, ogrinfo.err), std::pair(0, std::string()));
}

class CorpusTest : public ::testing::TestWithParam<std::string> {};

TEST_P(CorpusTest, ReadsAsGdalAndWritesBackAsItWas) {
  TempDir dir;
  run(kMakeCorpus + " " + quote(dir.str()) + " " + GetParam());
  expectReadAlikeAndWrittenBack(dir.native(GetParam() + ".shp"), dir, GetParam(), true);
}

INSTANTIATE_TEST_SUITE_P(Writers, CorpusTest, ::testing::ValuesIn(kStems),
                         [](const auto& info) { return info.param; });

TEST(CorpusListTest, EveryFileTheGeneratorMakesIsTested) {
  std::istringstream out(run(kMakeCorpus + " --list"));
  std::set<std::string> listed, tested(std::begin(kStems), std::end(kStems));
  for (std::string stem; out >> stem;) listed.insert(stem);
  EXPECT_EQ(listed, tested);
}

class SampleLayerTest : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

// The engine opens the files read-only, so it reads them in the cache, beside their .cpg files;
// the object model reads a copy, so that nothing it does can touch the cache.
TEST_P(SampleLayerTest, ReadsAsGdal) {
  run(quote(kSourceDir + "/scripts/fetch-sample-shapefiles") + " " + quote(KEL_SAMPLE_CACHE));
  const auto& [package, layer] = GetParam();
  const std::string cached = KEL_SAMPLE_CACHE "/" + package + "/" + layer;
  TempDir dir;
  for (const char* ext : {".shp", ".shx", ".dbf"}) {
    std::filesystem::copy_file(cached + ext, dir.native(layer + ext));
  }
  expectReadAlikeAndWrittenBack(cached + ".shp", dir, layer, false);
}

INSTANTIATE_TEST_SUITE_P(DebianPackages, SampleLayerTest, ::testing::ValuesIn(kLayers),
                         [](const auto& info) { return info.param.second; });

}  // namespace
