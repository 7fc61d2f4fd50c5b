#include "kel/runtime/FileChannel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "support/ErrorOf.h"
#include "support/TempDir.h"

using namespace kel;
using kel::testing::errorOf;

// A FIFO without a writer, a device, a socket: each refused at once, not waited on.
TEST(FileChannel, OnlyRegularFilesAreOpened) {
  kel::testing::TempDir dir;
  ASSERT_EQ(::mkfifo(dir.native("fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", dir.native("zero"));
  int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, dir.native("socket").c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  for (const char* name : {"fifo", "zero", "socket"}) {
    SCOPED_TRACE(name);
    try {
      FileChannel f(dir.native(name));
      ADD_FAILURE() << "opened";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), 75);
      EXPECT_EQ(e.description(), u"not a regular file");
    }
  }
  ::close(listener);
}

TEST(FileChannel, ValuesLieLittleEndianAndGetPastEndNeverYieldsStaleBytes) {
  kel::testing::TempDir dir;
  FileChannel w(dir.native("v.bin"));
  w.put<std::int16_t>(0x0102);
  w.put<std::int32_t>(-2);
  w.put<double>(1.0);
  EXPECT_EQ(w.length(), 14);  // counts bytes still in the buffer
  w.close();
  EXPECT_EQ(dir.read("v.bin"),
            (kel::testing::File{2, 1, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  dir.write("abcd.bin", "abcd");
  FileChannel f(dir.native("abcd.bin"));  // an existing file keeps its bytes
  EXPECT_EQ(f.get<std::int32_t>(), 0x64636261);
  f.seek(2);
  EXPECT_EQ(errorOf([&] { f.get<std::int32_t>(); }), 62);
  EXPECT_EQ(f.position(), 2);
  // Bytes overwritten in the buffer are what the next get sees, never the earlier read.
  f.seek(1);
  f.put("XY", 2);
  f.seek(0);
  EXPECT_EQ(f.get<std::int32_t>(), 0x64595861);  // "aXYd"
  f.put("ef", 2);
  f.seek(2);
  EXPECT_EQ(f.get<std::int32_t>(), 0x66656459);  // "Ydef"
  EXPECT_EQ(errorOf([&] { f.get<std::int32_t>(); }), 62);
}

// More than two buffers' worth, odd-aligned so that values straddle the buffer boundaries.
TEST(FileChannel, DataLargerThanTheBufferReadsBack) {
  kel::testing::TempDir dir;
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
