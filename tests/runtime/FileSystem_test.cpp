#include "runtime/FileSystem.h"

#include <gtest/gtest.h>

#include "support/ErrorOf.h"
#include "support/TempDir.h"

using namespace kel;
using kel::testing::errorOf;

TEST(FileSystem, NamesResolveWhateverTheirCaseAndOnlyNormalFilesAreFound) {
  kel::testing::TempDir dir;
  std::filesystem::create_directories(dir.native("Data/SubDir"));
  for (const char* name : {"Data/Roads.SHP", "Data/roads.dbf", "Data/ROADS.dbf", "Data/.hidden"})
    dir.write(name, "x");
  EXPECT_EQ(nativePath(u"C:\\"), "/");  // every drive is the one root
  EXPECT_EQ(nativePath(u"c:/tmp//kel_no_such_dir\\a.shp"), "/tmp/kel_no_such_dir/a.shp");
  EXPECT_EQ(nativePath(dir.win("data/roads.shp")), dir.native("Data/Roads.SHP"));
  EXPECT_EQ(nativePath(dir.win("DATA/subdir/")), dir.native("Data/SubDir/"));
  // The exact name wins; otherwise the first match in byte order.
  EXPECT_EQ(nativePath(dir.win("Data/roads.dbf")), dir.native("Data/roads.dbf"));
  EXPECT_EQ(nativePath(dir.win("Data/Roads.DBF")), dir.native("Data/ROADS.dbf"));
  // A missing name is kept as given, so that a new file gets the caller's spelling.
  EXPECT_EQ(nativePath(dir.win("DATA/New.shx")), dir.native("Data/New.shx"));
  EXPECT_EQ(findFile(dir.win("data/roads.shp")), u"Roads.SHP");
  for (const char* none : {"Data/SubDir", "Data/.hidden", "Data/.HIDDEN", "Data/roads.shx"}) {
    EXPECT_EQ(findFile(dir.win(none)), u"") << none;
  }
  deleteFile(dir.win("DATA/roads.shp"));
  EXPECT_FALSE(std::filesystem::exists(dir.native("Data/Roads.SHP")));
  EXPECT_EQ(errorOf([&] { deleteFile(dir.win("Data/Roads.SHP")); }), 53);
}
