#include "runtime/FileSystem.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

using namespace kel;

TEST(FileSystem, WindowsSeparatorsAndDrivesMapToRoot) {
  EXPECT_EQ(nativePath(u"C:\\"), "/");
  EXPECT_EQ(nativePath(u"c:/tmp"), "/tmp");
  EXPECT_EQ(nativePath(u"\\tmp\\"), "/tmp/");
  EXPECT_EQ(nativePath(u"C:\\\\tmp//kel_no_such_dir\\a.shp"), "/tmp/kel_no_such_dir/a.shp");
  EXPECT_EQ(nativePath(u"kel_no_such_dir\\sub/a.shp"), "kel_no_such_dir/sub/a.shp");
}

TEST(FileSystem, ExistingNamesAreFoundWhateverTheirCase) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.native("Data/SubDir"));
  for (const char* name : {"Data/Roads.SHP", "Data/roads.dbf", "Data/ROADS.dbf"})
    dir.write(name, "");
  EXPECT_EQ(nativePath(dir.windows("data/roads.shp")), dir.native("Data/Roads.SHP"));
  EXPECT_EQ(nativePath(dir.windows("DATA/subdir/")), dir.native("Data/SubDir/"));
  // The exact name wins; otherwise the first match in byte order.
  EXPECT_EQ(nativePath(dir.windows("Data/roads.dbf")), dir.native("Data/roads.dbf"));
  EXPECT_EQ(nativePath(dir.windows("Data/Roads.DBF")), dir.native("Data/ROADS.dbf"));
  // A missing name is kept as given, so that a new file gets the caller's spelling.
  EXPECT_EQ(nativePath(dir.windows("DATA/New.shx")), dir.native("Data/New.shx"));
}

TEST(FileSystem, FindFileReportsOnlyNormalFilesAndDeleteFileRemovesThem) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.native("Data/SubDir"));
  dir.write("Data/Roads.SHP", "x");
  dir.write("Data/.hidden", "x");
  EXPECT_EQ(findFile(dir.windows("data/roads.shp")), u"Roads.SHP");
  for (const char* none : {"Data/SubDir", "Data/.hidden", "Data/roads.shx", "Gone/Roads.SHP"}) {
    EXPECT_EQ(findFile(dir.windows(none)), u"") << none;
  }
  deleteFile(dir.windows("DATA/roads.shp"));
  EXPECT_FALSE(std::filesystem::exists(dir.native("Data/Roads.SHP")));
  EXPECT_EQ(test::errorOf([&] { deleteFile(dir.windows("Data/Roads.SHP")); }), 53);
  EXPECT_EQ(test::errorOf([&] { deleteFile(dir.windows("Data/SubDir")); }), 53);
  EXPECT_TRUE(std::filesystem::is_directory(dir.native("Data/SubDir")));
}
