// Real data: the sample layers that Debian packages ship, read whole in the format engine as GDAL
// reads them and in the object model as the engine reads them. scripts/fetch-sample-shapefiles
// downloads the packages once into the build tree; when they cannot be had the tests fail, they do
// not skip.

#include <gtest/gtest.h>

#include <string>

#include "support/EngineReading.h"

using namespace kel;
using namespace kel::testing;

namespace {

// Among them: multi-part polygons with holes, a shape of 29,219 points and F columns (nybb),
// text beyond ASCII without a .cpg and Number columns of asterisks (world), tables without the
// end byte, and the storms files, PolyLineZ and PolyLineM, two with no columns at all.
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

class SampleLayerTest : public ::testing::TestWithParam<std::pair<std::string, std::string>> {
 protected:
  void SetUp() override {
    run(quote(kSourceDir + "/scripts/fetch-sample-shapefiles") + " " + quote(KEL_SAMPLE_CACHE));
  }
};

TEST_P(SampleLayerTest, ReadsAsGdal) {
  const auto& [package, layer] = GetParam();
  // The engine opens the files read-only, so it reads them in the cache, beside their .cpg files.
  const std::string cached = KEL_SAMPLE_CACHE "/" + package + "/" + layer;
  expectEngineReadsAsGdal(cached + ".shp");
  TempDir dir;  // the object model's copy, so that nothing it does can touch the cache
  for (const char* ext : {".shp", ".shx", ".dbf"}) {
    std::filesystem::copy_file(cached + ext, dir.native(layer + ext));
  }
  auto file = makeRef<Shapefile>();
  // Every sample's main and index files are regular, and come back to the byte. Their tables
  // are not held to that: we write an F column as the Character column we read it as.
  if (modelReadsAsEngine(*file, dir.str(), layer))
    expectWrittenBackAsItWas(*file, dir, layer, false);
}

INSTANTIATE_TEST_SUITE_P(DebianPackages, SampleLayerTest, ::testing::ValuesIn(kLayers),
                         [](const auto& info) { return info.param.second; });

}  // namespace
