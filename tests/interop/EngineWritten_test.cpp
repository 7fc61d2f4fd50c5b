// Layers that the format engine writes, of every shape type with Z, M and "no measure" values,
// null shapes, a table of every column type and a .prj, in UTF-8 and in Windows-1252, must read in
// GDAL as the engine reads them (LayerWriter_test holds the engine's reading to what was written),
// ogrinfo must read them without a word on standard error, and pyshp and shapelib (shpdump,
// dbfdump) as GDAL does.

#include <gtest/gtest.h>

#include "support/EngineReading.h"
#include "support/EngineWriting.h"

using namespace kel::testing;

TEST(EngineWritten, EveryTypeReadsInGdalAsWritten) {
  TempDir dir;
  fmt::WriteOptions options;
  options.projection =
      "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,"
      "298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
  for (fmt::ShapeType type : fmt::kShapeTypes) {
    if (type == fmt::ShapeType::Null) continue;
    const auto code = static_cast<std::int32_t>(type);
    for (std::string encoding : {"UTF-8", "CP1252"}) {
      const std::string shp = dir.native("t" + std::to_string(code) + encoding + ".shp");
      SCOPED_TRACE(shp);
      options.encoding = encoding;
      writeLayer(shp, type, engineRecords(type), options);
      expectEngineReadsAsGdal(shp);
      Outcome ogrinfo = execute("ogrinfo -ro -al -q " + quote(shp) + " >/dev/null");
      EXPECT_EQ(std::pair(ogrinfo.status, ogrinfo.err), std::pair(0, std::string()));
      Outcome peers =
          execute("/usr/bin/python3 " KEL_SOURCE_DIR "/tests/interop/peers_agree.py " + quote(shp));
      EXPECT_EQ(peers.status, 0) << peers.out << peers.err;
    }
  }
}
