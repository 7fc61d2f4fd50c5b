#include "runtime/FileChannel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TestSupport.h"

using namespace kel;
using test::errorOf;

static std::string getText(FileChannel& f, std::size_t n) {
  std::string s(n, '\0');
  f.get(s.data(), n);
  return s;
}

TEST(FileChannel, ValuesLieLittleEndianAndReadBack) {
  test::TempDir dir;
  std::string block(100, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 7 + 1);
  FileChannel w(dir.native("v.bin"));
  w.put<std::uint8_t>(0xAB);
  w.put<std::int16_t>(0x0102);
  w.put<std::int32_t>(-2);
  w.put<double>(1.0);
  w.put(block.data(), block.size());
  EXPECT_EQ(w.length(), 115);  // counts bytes still in the buffer
  w.close();
  EXPECT_EQ(dir.read("v.bin"),
            std::string("\xAB\2\1\xFE\xFF\xFF\xFF\0\0\0\0\0\0\xF0\x3F", 15) + block);
  FileChannel r(dir.native("v.bin"));
  EXPECT_EQ(r.get<std::int16_t>(), std::int16_t{0x02AB});
  r.seek(7);
  EXPECT_EQ(r.get<double>(), 1.0);
  EXPECT_EQ(getText(r, 100), block);
}

TEST(FileChannel, OpenCreatesMissingFileKeepsExistingBytesAndNumbersFailures) {
  test::TempDir dir;
  EXPECT_EQ(FileChannel(dir.native("new.bin")).length(), 0);
  EXPECT_TRUE(std::filesystem::is_regular_file(dir.native("new.bin")));
  dir.write("old.bin", "hello");
  FileChannel f(dir.native("old.bin"));
  EXPECT_EQ(f.length(), 5);
  f.put<std::uint8_t>('J');
  f.close();
  EXPECT_EQ(dir.read("old.bin"), "Jello");
  EXPECT_EQ(errorOf([&] { FileChannel{dir.native("missing/x.bin")}; }), 76);
  EXPECT_EQ(errorOf([&] { FileChannel{dir.path}; }), 75);  // a directory is no file
}

TEST(FileChannel, ReadOnlyFileIsRefused) {
  // Root may open any file for writing, so the refusal cannot be seen from there.
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
  test::TempDir dir;
  dir.write("ro.bin", "keep");
  ::chmod(dir.native("ro.bin").c_str(), 0444);
  EXPECT_EQ(errorOf([&] { FileChannel{dir.native("ro.bin")}; }), 75);
}

TEST(FileChannel, GetPastEndFailsAndKeepsPosition) {
  test::TempDir dir;
  dir.write("abcd.bin", "abcd");
  FileChannel f(dir.native("abcd.bin"));
  EXPECT_EQ(f.get<std::int32_t>(), 0x64636261);
  EXPECT_EQ(errorOf([&] { f.get<std::uint8_t>(); }), 62);
  EXPECT_EQ(f.position(), 4);
  f.seek(2);
  EXPECT_EQ(errorOf([&] { f.get<std::int32_t>(); }), 62);
  EXPECT_EQ(f.position(), 2);
  // Bytes overwritten in the buffer are what the next get sees, never the earlier read.
  f.seek(1);
  f.put("XY", 2);
  f.seek(0);
  EXPECT_EQ(getText(f, 4), "aXYd");
  f.put("ef", 2);
  f.seek(3);
  EXPECT_EQ(getText(f, 3), "def");
  EXPECT_EQ(errorOf([&] { f.get<double>(); }), 62);
  EXPECT_EQ(f.position(), 6);
  f.seek(100);
  EXPECT_EQ(errorOf([&] { getText(f, 1); }), 62);
  EXPECT_EQ(f.position(), 100);
}

// More than two buffers' worth, odd-aligned so that values straddle the buffer boundaries.
TEST(FileChannel, DataLargerThanTheBufferReadsBack) {
  test::TempDir dir;
  constexpr std::uint32_t kValues = 50000, kStep = 2654435761u;
  auto readAll = [&](FileChannel& f) {
    f.seek(0);
    ASSERT_EQ(f.get<std::uint8_t>(), 7);
    for (std::uint32_t i = 0; i < kValues; ++i) ASSERT_EQ(f.get<std::uint32_t>(), i * kStep);
    EXPECT_EQ(errorOf([&] { f.get<std::uint8_t>(); }), 62);
  };
  FileChannel f(dir.native("big.bin"));
  f.put<std::uint8_t>(7);
  for (std::uint32_t i = 0; i < kValues / 2; ++i) f.put<std::uint32_t>(i * kStep);
  std::string rest;  // the other half in one put, larger than the whole buffer
  for (std::uint32_t i = kValues / 2; i < kValues; ++i) {
    for (int shift = 0; shift < 32; shift += 8) rest += static_cast<char>((i * kStep) >> shift);
  }
  f.put(rest.data(), rest.size());
  EXPECT_EQ(f.length(), 1 + 4 * kValues);
  readAll(f);
  f.seek(9);  // value 2, in a window already written out
  f.put<std::uint32_t>(0xDEADBEEF);
  f.seek(1 + 4 * (kValues - 1));
  EXPECT_EQ(f.get<std::uint32_t>(), (kValues - 1) * kStep);
  f.seek(9);
  EXPECT_EQ(f.get<std::uint32_t>(), 0xDEADBEEFu);
  f.seek(9);
  f.put<std::uint32_t>(2 * kStep);
  f.close();
  FileChannel reopened(dir.native("big.bin"));
  readAll(reopened);
}
