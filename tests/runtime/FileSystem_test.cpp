#include "kel/runtime/FileSystem.h"

#include <gtest/gtest.h>

#include "kel/runtime/ChannelTable.h"
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

// A NUL character cannot be part of a path: every call refuses it (52, bad file name) before it
// touches the disk, rather than acting on the path in front of it. A channel that writes refuses
// a symbolic link in its last component, so that it never creates or empties a file elsewhere.
TEST(FileSystem, NulCharactersAndWritersLinksAreRefused) {
  kel::testing::TempDir dir;
  dir.write("victim.txt", "keep");
  std::filesystem::create_symlink(dir.native("victim.txt"), dir.native("link.txt"));
  std::filesystem::create_symlink(dir.native("elsewhere.txt"), dir.native("dangling.txt"));
  using namespace std::string_literals;
  for (std::u16string nul : {dir.win("victim.txt") + u'\0', dir.u16() + u"\0\\x"s + u"\\victim.txt",
                             dir.win("victim.txt\0.shp"s)}) {
    EXPECT_EQ(errorOf([&] { nativePath(nul); }), 52);
    EXPECT_EQ(errorOf([&] { findFile(nul); }), 52);
    EXPECT_EQ(errorOf([&] { deleteFile(nul); }), 52);
    ChannelTable channels;
    EXPECT_EQ(errorOf([&] { channels.open(1, nul); }), 52);
  }
  EXPECT_EQ(errorOf([&] { FileChannel(dir.native("victim.txt") + '\0' + "x"); }), 52);
  ChannelTable channels;
  for (const char* link : {"link.txt", "dangling.txt"}) {
    EXPECT_EQ(errorOf([&] { channels.open(1, dir.win(link), LinkRule::Refuse); }), 75) << link;
  }
  EXPECT_EQ(dir.read("victim.txt"), kel::testing::File({'k', 'e', 'e', 'p'}));
  EXPECT_FALSE(std::filesystem::exists(dir.native("elsewhere.txt")));
  channels.open(1, dir.win("link.txt"));  // a reader follows the link
  EXPECT_EQ(channels.channel(1).length(), 4);
}
