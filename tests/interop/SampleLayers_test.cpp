// Real data: the sample layers that Debian packages ship, read whole and held against GDAL's
// reading of the same files. scripts/fetch-sample-shapefiles downloads the packages once into the
// build tree; when they cannot be had the tests fail, they do not skip.

#include <gtest/gtest.h>

#include <string>

#include "support/EngineReading.h"

using namespace kel;
using namespace kel::testing;

namespace {

struct SampleLayer {
  std::string package, layer;
  int refusedType = 0;  // the header's shape type of a file that we refuse, 0 for one we read
};
void PrintTo(const SampleLayer& s, std::ostream* os) {
  *os << s.package << "/" << s.layer;
}

// Among them: multi-part polygons with holes, a shape of 29,219 points and F columns (nybb),
// text beyond ASCII without a .cpg and Number columns of asterisks (world), tables without the
// end byte, and the storms files, PolyLineZ (13) and PolyLineM (23), two with no columns at all.
const SampleLayer kLayers[] = {
    {"python3-geopandas", "naturalearth_lowres"},
    {"python3-geopandas", "naturalearth_cities"},
    {"python3-geopandas", "nybb"},
    {"r-cran-sf", "nc"},
    {"r-cran-sf", "olinda1"},
    {"r-cran-sf", "storms_xyz", 13},
    {"r-cran-sf", "storms_xyz_feature", 13},
    {"r-cran-sf", "storms_xyzm", 23},
    {"r-cran-sf", "storms_xyzm_feature", 23},
    {"r-cran-spdata", "world"},
    {"r-cran-spdata", "boston_tracts"},
    {"r-cran-spdata", "NY8_utm18"},
    {"r-cran-spdata", "auckland"},
    {"r-cran-spdata", "baltim"},
    {"r-cran-spdata", "columbus"},
    {"r-cran-spdata", "eire"},
    {"r-cran-spdata", "sids"},
    {"r-cran-spdata", "wheat"},
};

class SampleLayerTest : public ::testing::TestWithParam<SampleLayer> {
 protected:
  void SetUp() override {
    run(quote(kSourceDir + "/scripts/fetch-sample-shapefiles") + " " + quote(KEL_SAMPLE_CACHE));
  }
};

TEST_P(SampleLayerTest, ReadsAsGdal) {
  const SampleLayer& s = GetParam();
  TempDir dir;  // a copy, so that nothing we do can touch the cache
  for (const char* ext : {".shp", ".shx", ".dbf"}) {
    std::filesystem::copy_file(KEL_SAMPLE_CACHE "/" + s.package + "/" + s.layer + ext,
                               dir.native(s.layer + ext));
  }
  GdalLayer gdal = gdalRead(dir.native(s.layer + ".shp"));
  auto file = makeRef<Shapefile>();
  bool read = file->readShapefile(dir.u16(), toUtf16(s.layer));
  if (s.refusedType != 0) {
    // GDAL reads the lines with their Z or M values; we read no record of a type we do not
    // handle, so the table's rows have no shapes to go to and the read fails.
    EXPECT_FALSE(read);
    EXPECT_EQ(file->get_ShapeType(), s.refusedType);
    EXPECT_EQ(file->get_ShapeObjectCount(), 0);
    EXPECT_GT(gdal.features.size(), 0u);
    return;
  }
  ASSERT_TRUE(read);
  expectReadAsGdal(*file, gdal);
  // Every sample's main and index files are regular, and come back to the byte. Their tables
  // are not held to that: we write an F column as the Character column we read it as.
  expectWrittenBackAsItWas(*file, dir, s.layer, false);
}

// The format engine reads every layer, the Z and M ones included, as GDAL does. It opens the files
// read-only, so it reads them in the cache, beside their .cpg files.
TEST_P(SampleLayerTest, ReadsThroughTheEngineAsGdal) {
  const SampleLayer& s = GetParam();
  expectEngineReadsAsGdal(KEL_SAMPLE_CACHE "/" + s.package + "/" + s.layer + ".shp");
}

INSTANTIATE_TEST_SUITE_P(DebianPackages, SampleLayerTest, ::testing::ValuesIn(kLayers),
                         [](const auto& info) { return info.param.layer; });

}  // namespace
