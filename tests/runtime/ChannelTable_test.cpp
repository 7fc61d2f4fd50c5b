#include "runtime/ChannelTable.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

using namespace kel;
using test::errorOf;

TEST(ChannelTable, FreeFileAndChannelNumbers) {
  test::TempDir dir;
  ChannelTable t;
  EXPECT_EQ(t.freeFile(), 1);
  t.open(1, dir.windows("a.bin"));
  EXPECT_EQ(t.freeFile(), 2);
  t.open(2, dir.windows("b.bin"));
  t.close(1);
  EXPECT_EQ(t.freeFile(), 1);
  for (std::int16_t bad : {0, -1, 512}) {
    EXPECT_EQ(errorOf([&] { t.open(bad, dir.windows("x.bin")); }), 52) << bad;
  }
  EXPECT_EQ(errorOf([&] { t.channel(3); }), 52);
  t.open(511, dir.windows("x.bin"));
  t.channel(511).put("ab", 2);
  EXPECT_EQ(errorOf([&] { t.open(511, dir.windows("y.bin")); }), 55);
  EXPECT_EQ(t.channel(511).length(), 2);  // the first open is untouched
  EXPECT_NO_THROW(t.close(7));
  EXPECT_EQ(errorOf([&] { t.open(4, dir.windows("missing/x.bin")); }), 76);
  EXPECT_FALSE(t.isOpen(4));
}

TEST(ChannelTable, SeekTakesOneBasedPositionsAndDataSurvivesReopen) {
  test::TempDir dir;
  dir.write("Roads.SHP", "abcdef");
  {
    ChannelTable t;
    t.open(1, dir.windows("roads.shp"));  // the existing file, whatever the case
    FileChannel& f = t.channel(1);
    t.seek(1, 3);
    f.put("X", 1);
    t.seek(1, f.length() + 1);  // how the writers append
    f.put("gh", 2);
    f.put<std::int16_t>(0x6A69);  // sequential puts continue behind it
    EXPECT_EQ(errorOf([&] { t.seek(1, 0); }), 63);
  }  // the table closes what is still open
  EXPECT_EQ(dir.read("Roads.SHP"), "abXdefghij");
  ChannelTable t;
  t.open(t.freeFile(), dir.windows("ROADS.shp"));
  EXPECT_EQ(t.channel(1).length(), 10);
  EXPECT_EQ(t.channel(1).get<std::int32_t>(), 0x64586261);
}
