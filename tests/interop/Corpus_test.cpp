// Shapefiles that GDAL, shapelib and pyshp write (tests/interop/corpus/make_corpus.py) must read
// as GDAL reads them, and once written back by us must read the same in GDAL and in shapelib.

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

struct CorpusFile {
  std::string stem;
  int nullShapeAt = 0;     // the record whose null shape ends our read; 0 when there is none
  bool noColumns = false;  // a table without columns, which we write with a default one
  int refusedType = 0;     // the Z, M or MultiPatch type that the object model does not read
};
void PrintTo(const CorpusFile& c, std::ostream* os) {
  *os << c.stem;
}

// Each writer's Point, MultiPoint, multi-part PolyLine, Polygon (holes, several outer rings)
// and record-less file share the generator's shapes and rows: Windows-1252 text, empty and blank
// values, Number columns with and without decimals, Date and Logical where the tool has them,
// names of 10 characters and longer ones cut by the tool, coordinates at the ends of the double
// range and a line of 30,000 vertices. gdal_many holds 30,000 points made from CSV, gdal_utf8
// text in UTF-8. The same shapes come with Z and M values and a null shape in every Z and M type
// (pyshp, with F columns, and GDAL), and a MultiPatch of every part type.
const CorpusFile kFiles[] = {
    {"gdal_point"},
    {"gdal_multipoint"},
    {"gdal_line"},
    {"gdal_polygon"},
    {"gdal_empty"},
    {"gdal_many"},
    {"gdal_utf8"},
    {"shapelib_point"},
    {"shapelib_multipoint"},
    {"shapelib_line"},
    {"shapelib_polygon"},
    {"shapelib_empty"},
    {"pyshp_point"},
    {"pyshp_multipoint"},
    {"pyshp_line"},
    {"pyshp_polygon"},
    {"pyshp_empty"},
    {"pyshp_nullshape", 2},
    {"gdal_nocolumns", 0, true},
    {"pyshp_pointz", 0, false, 11},
    {"pyshp_linez", 0, false, 13},
    {"pyshp_polygonz", 0, false, 15},
    {"pyshp_multipointz", 0, false, 18},
    {"pyshp_pointm", 0, false, 21},
    {"pyshp_linem", 0, false, 23},
    {"pyshp_polygonm", 0, false, 25},
    {"pyshp_multipointm", 0, false, 28},
    {"pyshp_multipatch", 0, false, 31},
    {"gdal_pointz", 0, false, 11},
    {"gdal_linezm", 0, false, 13},
    {"gdal_polygonz", 0, false, 15},
    {"gdal_multipointm", 0, false, 28},
};

class CorpusTest : public ::testing::TestWithParam<CorpusFile> {
 protected:
  void SetUp() override { run(kMakeCorpus + " " + quote(dir.str()) + " " + GetParam().stem); }
  TempDir dir;
};

TEST_P(CorpusTest, ReadsAsGdalAndWritesBackAsItWas) {
  const CorpusFile& c = GetParam();
  GdalLayer gdal = gdalRead(dir.native(c.stem + ".shp"));
  auto file = makeRef<Shapefile>();
  bool read = file->readShapefile(dir.u16(), toUtf16(c.stem));

  if (c.refusedType != 0) {
    // The object model reads no record of these types: the read fails with the header's type.
    EXPECT_FALSE(read);
    EXPECT_EQ(file->get_ShapeType(), c.refusedType);
    EXPECT_EQ(file->get_ShapeObjectCount(), 0);
    EXPECT_GT(gdal.features.size(), 0u);
    return;
  }
  if (c.nullShapeAt > 0) {
    // GDAL gives the null shape a feature without geometry and goes on; our read stops there,
    // fails, and keeps the shapes before it, without their records.
    EXPECT_FALSE(read);
    ASSERT_GT(gdal.features.size(), static_cast<std::size_t>(c.nullShapeAt));
    ASSERT_EQ(gdal.features[c.nullShapeAt - 1].type, 0);
    ASSERT_EQ(file->get_ShapeObjectCount(), c.nullShapeAt - 1);
    EXPECT_EQ(file->get_ShapeType(), 0);
    for (std::int16_t i = 1; i < c.nullShapeAt; ++i) {
      EXPECT_TRUE(sameBits(partsOfShape(file->getShapeObject(i)), gdal.features[i - 1].parts));
      EXPECT_EQ(file->getShapeObject(i)->get_Record()->get_FieldCount(), 0);
    }
    return;
  }
  ASSERT_TRUE(read);
  expectReadAsGdal(*file, gdal);
  expectWrittenBackAsItWas(*file, dir, c.stem);

  // GDAL, with its usual settings, reads the copy without a word on standard error, and the
  // same as the original; so do shpdump and dbfdump.
  std::string copy = dir.native("back/" + c.stem);
  Outcome ogrinfo = execute("ogrinfo -ro -al -q " + quote(copy + ".shp") + " >/dev/null");
  EXPECT_EQ(ogrinfo.status, 0);
  EXPECT_EQ(ogrinfo.err, "");
  if (c.noColumns) {
    // We write a table without columns with one blank Character column named " ", the one
    // column the library adds when there is none (dbfdump refuses a table of no columns).
    GdalLayer back = gdalRead(copy + ".shp");
    ASSERT_EQ(back.columns.size(), 1u);
    EXPECT_EQ(back.columns[0].name, " ");
    EXPECT_EQ(back.columns[0].width, 1);
    EXPECT_EQ(back.features.size(), gdal.features.size());
    return;
  }
  EXPECT_EQ(gdalDumpOf(copy + ".shp"), gdalDumpOf(dir.native(c.stem + ".shp")));
  std::vector<PeerShape> shapes = shpdump(copy + ".shp");
  EXPECT_EQ(shapes.size(), gdal.features.size() + 1);  // the file itself comes first
  EXPECT_EQ(shapes, shpdump(dir.native(c.stem + ".shp")));
  EXPECT_EQ(dbfdump(copy + ".dbf"), dbfdump(dir.native(c.stem + ".dbf")));
}

TEST_P(CorpusTest, ReadsThroughTheEngineAsGdal) {
  expectEngineReadsAsGdal(dir.native(GetParam().stem + ".shp"));
}

INSTANTIATE_TEST_SUITE_P(Writers, CorpusTest, ::testing::ValuesIn(kFiles),
                         [](const auto& info) { return info.param.stem; });

TEST(CorpusListTest, EveryFileTheGeneratorMakesIsTested) {
  std::istringstream out(run(kMakeCorpus + " --list"));
  std::set<std::string> listed, tested;
  for (std::string stem; out >> stem;) listed.insert(stem);
  for (const CorpusFile& c : kFiles) tested.insert(c.stem);
  EXPECT_EQ(listed, tested);
}

}  // namespace
