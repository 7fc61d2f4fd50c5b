// Shapefiles that others wrote must read in the format engine as GDAL reads them and in the object
// model as the engine reads them; written back by the object model, they must come out as they
// were; written by the engine's LayerWriter from the values its reader hands out, they must read
// back with those values. Two sources: the corpus that GDAL, shapelib and pyshp write at test time
// (tests/interop/corpus/make_corpus.py, whose docstring says what each file holds), and the sample
// layers that Debian packages ship, which scripts/fetch-sample-shapefiles downloads once into the
// build tree (when they cannot be had the tests fail, they do not skip).

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "kel/format/LayerWriter.h"
#include "support/EngineReading.h"

using namespace kel;
using namespace kel::testing;

namespace {

const std::string kMakeCorpus =
    "/usr/bin/python3 " + quote(kSourceDir + "/tests/interop/corpus/make_corpus.py");

// Among the sample layers: multi-part polygons with holes, a shape of 29,219 points and F columns
// (nybb), text beyond ASCII without a .cpg and Number columns of asterisks (world), tables without
// the end byte, and the storms files, PolyLineZ and PolyLineM, two with no columns at all.
// clang-format off
const std::string kLayers[] = {
    "python3-geopandas/naturalearth_lowres", "python3-geopandas/naturalearth_cities",
    "python3-geopandas/nybb", "r-cran-sf/nc", "r-cran-sf/olinda1", "r-cran-sf/storms_xyz",
    "r-cran-sf/storms_xyz_feature", "r-cran-sf/storms_xyzm", "r-cran-sf/storms_xyzm_feature",
    "r-cran-spdata/world", "r-cran-spdata/boston_tracts", "r-cran-spdata/NY8_utm18",
    "r-cran-spdata/auckland", "r-cran-spdata/baltim", "r-cran-spdata/columbus",
    "r-cran-spdata/eire", "r-cran-spdata/sids", "r-cran-spdata/wheat"};
// clang-format on

// The engine's reading of `shp` written by LayerWriter into a layer defined as it is
// (definitionOf), a row of values a record as the reader hands them out, reads back in the
// engine with the same values and nulls, and in GDAL as in the engine.
void expectCopiedByValue(const std::string& shp, const TempDir& dir, const std::string& stem) {
  format::CollectingReporter reporter;
  std::unique_ptr<format::Layer> layer = format::Layer::open(shp, reporter);
  ASSERT_TRUE(layer);
  const std::string copy = dir.native("by-value-" + stem + ".shp");
  auto rows = [](format::Layer& l) {
    std::vector<std::vector<std::string>> out;
    format::TableReader* table = l.table();
    for (std::int64_t i = 0; table != nullptr && i < table->count(); ++i) {
      format::RowView row = table->read(i);
      std::vector<std::string>& values = out.emplace_back();
      for (std::size_t c = 0; c < table->columns().size(); ++c) {
        values.push_back(typedValue(table->value(row, c)));
      }
    }
    return out;
  };
  {
    format::LayerWriter writer(copy, format::definitionOf(*layer));
    format::ShapeView view;
    std::vector<format::Value> values;
    for (std::int64_t i = 0; i < layer->count(); ++i) {
      ASSERT_TRUE(layer->shapes().read(i, view));
      format::TableReader* table = layer->table();
      values.assign(table != nullptr ? table->columns().size() : 0, format::Null{});
      if (table != nullptr && i < table->count()) {
        format::RowView row = table->read(i);
        for (std::size_t c = 0; c < values.size(); ++c) values[c] = table->value(row, c);
      }
      writer.add(view, values);
    }
    writer.close();
  }
  std::unique_ptr<format::Layer> back = format::Layer::open(copy, reporter);
  ASSERT_TRUE(back);
  EXPECT_EQ(rows(*back), rows(*layer));
  expectEngineReadsAsGdal(copy);
}

// The engine reads `shp`; the object model reads its copy dir/stem, which it then writes back.
// With `table`, ogrinfo must read the copy without a word on standard error, and the written
// table must come back as it was (a sample's F column comes back a Character one).
void expectReadAlikeAndWrittenBack(const std::string& shp, const TempDir& dir,
                                   const std::string& stem, bool table) {
  expectEngineReadsAsGdal(shp);
  expectCopiedByValue(shp, dir, stem);
  auto file = makeRef<Shapefile>();
  if (!modelReadsAsEngine(*file, dir.str(), stem)) return;
  expectWrittenBackAsItWas(*file, dir, stem, table);
  if (!table) return;
  Outcome ogrinfo =
      execute("ogrinfo -ro -al -q " + quote(dir.native("back/" + stem + ".shp")) + " >/dev/null");
  EXPECT_EQ(std::pair(ogrinfo.status, ogrinfo.err), std::pair(0, std::string()));
}

// Every file the generator makes, as it lists them.
TEST(CorpusTest, ReadsAsGdalAndWritesBackAsItWas) {
  std::istringstream stems(run(kMakeCorpus + " --list"));
  for (std::string stem; stems >> stem;) {
    SCOPED_TRACE(stem);
    TempDir dir;
    run(kMakeCorpus + " " + quote(dir.str()) + " " + stem);
    expectReadAlikeAndWrittenBack(dir.native(stem + ".shp"), dir, stem, true);
  }
}

class SampleLayerTest : public ::testing::TestWithParam<std::string> {};

// The engine opens the files read-only, so it reads them in the cache, beside their .cpg files;
// the object model reads a copy, so that nothing it does can touch the cache.
TEST_P(SampleLayerTest, ReadsAsGdal) {
  run(quote(kSourceDir + "/scripts/fetch-sample-shapefiles") + " " + quote(KEL_SAMPLE_CACHE));
  const std::string layer = GetParam().substr(GetParam().find('/') + 1);
  const std::string cached = KEL_SAMPLE_CACHE "/" + GetParam();
  TempDir dir;
  for (const char* ext : {".shp", ".shx", ".dbf"}) {
    std::filesystem::copy_file(cached + ext, dir.native(layer + ext));
  }
  expectReadAlikeAndWrittenBack(cached + ".shp", dir, layer, false);
}

INSTANTIATE_TEST_SUITE_P(DebianPackages, SampleLayerTest, ::testing::ValuesIn(kLayers),
                         [](const auto& info) {
                           return info.param.substr(info.param.find('/') + 1);
                         });

}  // namespace
