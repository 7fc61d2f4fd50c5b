// The files that kelShapeLib.dll wrote under Wine, from VBScript, JScript and C++, must read here
// in the Linux build as the engine and GDAL read them, and all callers must have written the same
// shapes. windows/test.sh runs this with KEL_WINE_OUTPUT naming the folder that holds them.

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/EngineReading.h"

using namespace kel;
using namespace kel::testing;
namespace fs = std::filesystem;

TEST(WineWritten, ReadHereAsGdalReadsThem) {
  const char* dir = std::getenv("KEL_WINE_OUTPUT");
  if (dir == nullptr) GTEST_SKIP() << "windows/test.sh runs this on the files written under Wine";
  std::vector<fs::path> written;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.path().extension() == ".shp") written.push_back(entry.path());
  }
  ASSERT_GE(written.size(), 3u);  // one set for each of the three callers
  for (const fs::path& shp : written) {
    SCOPED_TRACE(shp.string());
    expectEngineReadsAsGdal(shp.string());
    auto file = makeRef<Shapefile>();
    EXPECT_TRUE(modelReadsAsEngine(*file, shp.parent_path().string(), shp.stem().string()));
    EXPECT_EQ(file->get_ShapeObjectCount(), 2);
    for (const char* extension : {".shp", ".shx"}) {
      EXPECT_EQ(readFile(fs::path(shp).replace_extension(extension)),
                readFile(fs::path(written[0]).replace_extension(extension)));
    }
  }
}
