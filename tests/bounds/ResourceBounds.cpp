// The resource bounds of reading, tested in a program of their own, since it replaces the global
// operator new to count what a read allocates: for any input of n bytes a read allocates at most
// kBytesPerInputByte * n + kConstantBytes in at most kAllocationsPerInputByte * n + kConstantOps
// allocations, and makes at most n + kConstantOps channel gets: its work is linear in n whatever
// counts the files announce. (The dearest byte is that of a one-byte field: a RecordField, its
// name and its value.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "support/ShapefileFixtures.h"

namespace {

constexpr std::size_t kBytesPerInputByte = 128;
constexpr std::size_t kAllocationsPerInputByte = 4;
constexpr std::size_t kConstantBytes = 1 << 20;
constexpr std::size_t kConstantOps = 64;

bool counting = false;
std::size_t allocations = 0, allocatedBytes = 0;

void* allocate(std::size_t size, std::size_t alignment = 0) {
  if (counting) {
    ++allocations;
    allocatedBytes += size;
  }
  void* p = alignment > alignof(std::max_align_t)
                ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                : std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t a) {
  return allocate(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
  return allocate(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}

using namespace kel;
using namespace kel::testing;

namespace {

struct Cost {
  std::size_t inputBytes, allocatedBytes, allocations, gets;
  bool read;
};

// Reads the files with every allocation and every channel get counted.
Cost readCounted(const ShapefileFiles& files) {
  TempDir dir;
  writeSet(dir, files, "f");
  Shapefile f;
  allocations = allocatedBytes = 0;
  ChannelFaults::arm(ChannelFaults::kGet, 0);  // counts gets, fails none
  counting = true;
  bool read = f.readShapefile(dir.u16(), u"f");
  counting = false;
  ChannelFaults::disarm();
  return {files.shp.size() + files.shx.size() + files.dbf.size(), allocatedBytes, allocations,
          static_cast<std::size_t>(ChannelFaults::counted(ChannelFaults::kGet)), read};
}

// n columns of distinct names, ten characters long: too long to be kept inside a string object.
std::vector<Column> columns(std::size_t n, std::uint8_t width) {
  std::vector<Column> cols(n, {"", 'C', width});
  for (std::size_t i = 0; i < n; ++i) {
    cols[i].name = std::to_string(i);
    cols[i].name.insert(0, 10 - cols[i].name.size(), 'C');
  }
  return cols;
}

// Files of about `scale` units of whatever each case is made of, honest or lying.
using Maker = ShapefileFiles (*)(int scale);
const std::pair<const char*, Maker> kCases[] = {
    {"points of one MultiPoint",
     [](int s) {
       return shapefileOf(8, {shapeContent(8, Pts(static_cast<std::size_t>(s), {1, 2}))},
                          dbfFile(1));
     }},
    {"Point records",
     [](int s) {
       return shapefileOf(
           1, std::vector<Bytes>(static_cast<std::size_t>(s), shapeContent(1, {{1, 2}})),
           dbfFile(s));
     }},
    {"parts of one PolyLine",
     [](int s) {
       Starts starts;
       for (int i = 0; i < s; ++i) starts.push_back(i);
       return shapefileOf(3, {shapeContent(3, Pts(static_cast<std::size_t>(s), {0, 0}), starts)},
                          dbfFile(1));
     }},
    {"columns of width 1 with long names",
     [](int s) {
       return shapefileOf(1, {shapeContent(1, {{0, 0}})},
                          dbfFile(1, columns(static_cast<std::size_t>(s), 1),
                                  {std::string(static_cast<std::size_t>(s) + 1, 'x')}));
     }},
    {"columns of one repeated name",
     [](int s) {
       std::vector<Column> cols(static_cast<std::size_t>(s), {"SAME", 'C', 1});
       return shapefileOf(1, {shapeContent(1, {{0, 0}})},
                          dbfFile(1, cols, {std::string(static_cast<std::size_t>(s) + 1, 'x')}));
     }},
    {"records of one width-1 column",
     [](int s) {
       return shapefileOf(
           1, std::vector<Bytes>(static_cast<std::size_t>(s), shapeContent(1, {{1, 2}})),
           dbfFile(s, {{"A", 'C', 1}},
                   std::vector<std::string>(static_cast<std::size_t>(s), " a")));
     }},
    {"records of 100 width-1 columns with long names",
     [](int s) {
       return shapefileOf(
           1, std::vector<Bytes>(static_cast<std::size_t>(s), shapeContent(1, {{1, 2}})),
           dbfFile(s, columns(100, 1),
                   std::vector<std::string>(static_cast<std::size_t>(s), std::string(101, 'x'))));
     }},
    // The lies: counts far beyond what the bytes behind them hold.
    {"a MultiPoint announcing 32000 points",
     [](int s) {
       return shapefileOf(8, {shapeRaw(8, 0, 32000, {}, Pts(static_cast<std::size_t>(s), {1, 1}))},
                          dbfFile(1));
     }},
    {"a PolyLine announcing 32000 parts and points",
     [](int s) {
       return shapefileOf(
           3, {shapeRaw(3, 32000, 32000, Starts(static_cast<std::size_t>(s), 1), {})}, dbfFile(1));
     }},
    {"an index announcing 2^29 records",
     [](int s) {
       ShapefileFiles f = shapefileOf(
           1, std::vector<Bytes>(static_cast<std::size_t>(s), shapeContent(1, {{1, 2}})),
           dbfFile(s));
       putBigEndian(f.shx, 24, 0x7FFFFFFF);
       return f;
     }},
    {"a table announcing 30000 records of 200 columns of width 255",
     [](int s) {
       ShapefileFiles f =
           shapefileOf(1, std::vector<Bytes>(30000, shapeContent(1, {{1, 2}})),
                       dbfFile(30000, columns(200, 255),
                               std::vector<std::string>(static_cast<std::size_t>(s), " ")));
       return f;
     }},
    {"a header without terminator",
     [](int s) {
       File dbf = dbfFile(0, columns(static_cast<std::size_t>(s), 7));
       dbf.resize(dbf.size() - 2);  // no terminator, no end mark
       return shapefileOf(1, {}, dbf);
     }},
};

}  // namespace

TEST(ResourceBounds, ReadingAllocatesAndGetsLinearlyInTheInputSize) {
  for (const auto& [name, make] : kCases) {
    for (int scale : {10, 300, 3000}) {
      Cost cost = readCounted(make(scale));
      auto perByte = [&](std::size_t v) {
        return static_cast<double>(v) / static_cast<double>(cost.inputBytes);
      };
      std::printf("%-62s %5d: %8zu bytes; a byte: %5.1f allocated, %.2f allocations, %.2f gets\n",
                  name, scale, cost.inputBytes, perByte(cost.allocatedBytes),
                  perByte(cost.allocations), perByte(cost.gets));
      EXPECT_LE(cost.allocatedBytes, kBytesPerInputByte * cost.inputBytes + kConstantBytes)
          << name << " " << scale;
      EXPECT_LE(cost.allocations, kAllocationsPerInputByte * cost.inputBytes + kConstantOps)
          << name << " " << scale;
      EXPECT_LE(cost.gets, cost.inputBytes + kConstantOps) << name << " " << scale;
    }
  }
}
