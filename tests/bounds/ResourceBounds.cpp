// The resource bounds of reading and writing (doc/hostile-input.md), tested in a program of their
// own, since it replaces the global operator new and the system's mmap to follow what is held: for
// any input of n bytes a read holds at most kPeakPerInputByte * n + kConstantBytes at its peak, in
// at most kAllocationsPerInputByte * n + kConstantOps allocations and n + kConstantOps channel
// gets, whatever counts the files announce; the engine's writer and reader hold no more for more
// records.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <new>

#include "kel/format/Layer.h"
#include "kel/format/Selection.h"
#include "kel/runtime/FileChannel.h"
#include "support/EngineWriting.h"
#include "support/ShapefileFixtures.h"

namespace {

constexpr std::size_t kPeakPerInputByte = 8;
constexpr std::size_t kAllocationsPerInputByte = 4;
constexpr std::size_t kConstantBytes = 16 << 20;
constexpr std::size_t kConstantOps = 64;

bool counting = false;
std::size_t allocations = 0;
// Bytes held by the heap, as the allocator sizes its blocks, and by mappings, and their peak.
std::int64_t live = 0, peak = 0;

void hold(std::int64_t bytes) {
  live += bytes;
  peak = std::max(peak, live);
}

void* allocate(std::size_t size, std::size_t alignment = 0) {
  if (counting) ++allocations;
  void* p = alignment > alignof(std::max_align_t)
                ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                : std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  hold(static_cast<std::int64_t>(malloc_usable_size(p)));
  return p;
}

void release(void* p) noexcept {
  if (p != nullptr) hold(-static_cast<std::int64_t>(malloc_usable_size(p)));
  std::free(p);
}

}  // namespace

// The array and sized forms call these by default.
void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t a) {
  return allocate(size, static_cast<std::size_t>(a));
}
void operator delete(void* p) noexcept {
  release(p);
}
void operator delete(void* p, std::size_t) noexcept {
  release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  release(p);
}

// The arenas map their large chunks themselves; the C library's own mappings (the allocator's)
// do not come through here. Every mapping in this program is anonymous memory of the arenas.
extern "C" void* mmap(void* address, std::size_t length, int protection, int flags, int fd,
                      off_t offset) noexcept {
  auto* p =
      reinterpret_cast<void*>(syscall(SYS_mmap, address, length, protection, flags, fd, offset));
  if (p != MAP_FAILED) {
    if (counting) ++allocations;
    hold(static_cast<std::int64_t>(length));
  }
  return p;
}
extern "C" int munmap(void* address, std::size_t length) noexcept {
  auto result = static_cast<int>(syscall(SYS_munmap, address, length));
  if (result == 0) hold(-static_cast<std::int64_t>(length));
  return result;
}

using namespace kel;
using namespace kel::testing;

namespace {

struct Cost {
  std::size_t peakBytes, allocations;
};

// What f holds at its peak beyond what was held before it, and how often it allocates.
template <class F>
Cost counted(F&& f) {
  allocations = 0;
  std::int64_t before = live;
  peak = live;
  counting = true;
  f();
  counting = false;
  return {static_cast<std::size_t>(peak - before), allocations};
}

// Counts what the engine finds, keeping nothing: a crafted file may hold a finding a byte.
struct Counting final : format::Reporter {
  void report(const format::Finding&) override { ++findings; }
  std::size_t findings = 0;
};

// Reads every shape, row and value of the layer through the engine; false when it cannot be opened.
bool readWhole(const std::string& shp) {
  Counting reporter;
  std::unique_ptr<format::Layer> layer = format::Layer::open(shp, reporter);
  if (!layer) return false;
  format::ShapeView view;
  for (std::int64_t i = 0; i < layer->count(); ++i) layer->shapes().read(i, view);
  if (format::TableReader* table = layer->table()) {
    for (std::int64_t i = 0; i < table->count(); ++i) {
      format::RowView row = table->read(i);
      for (std::size_t c = 0; c < table->columns().size(); ++c) table->value(row, c);
    }
  }
  return true;
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
std::vector<std::string> rows(std::size_t n, const std::string& row) {
  return std::vector<std::string>(n, row);
}

// Files of about `n` units of whatever each case is made of, honest or lying.
using Maker = ShapefileFiles (*)(std::size_t n);
const std::pair<const char*, Maker> kCases[] = {
    {"points of one MultiPoint",
     [](std::size_t n) {
       return shapefileOf(8, {shapeContent(8, Pts(n, {1, 2}))}, dbfFile(1));
     }},
    {"Point records", [](std::size_t n) { return pointFiles(n, dbfFile(int(n))); }},
    {"parts of one PolyLine",
     [](std::size_t n) {
       Starts starts(n);
       for (std::size_t i = 0; i < n; ++i) starts[i] = std::int32_t(i);
       return shapefileOf(3, {shapeContent(3, Pts(n, {0, 0}), starts)}, dbfFile(1));
     }},
    {"columns of width 1 with long names",
     [](std::size_t n) {
       return pointFiles(1, dbfFile(1, columns(n, 1), {std::string(n + 1, 'x')}));
     }},
    {"columns of one repeated name",
     [](std::size_t n) {
       std::vector<Column> cols(n, {"SAME", 'C', 1});
       return pointFiles(1, dbfFile(1, cols, {std::string(n + 1, 'x')}));
     }},
    {"records of one width-1 column",
     [](std::size_t n) {
       return pointFiles(n, dbfFile(int(n), {{"A", 'C', 1}}, rows(n, " a")));
     }},
    {"records of n/10 width-1 columns with long names",
     [](std::size_t n) {
       return pointFiles(
           n, dbfFile(int(n), columns(n / 10, 1), rows(n, std::string(n / 10 + 1, 'x'))));
     }},
    {"records of n/10 width-0 columns",
     [](std::size_t n) {
       return pointFiles(n, dbfFile(int(n), columns(n / 10, 0), rows(n, " ")));
     }},
    // The lies: counts far beyond what the bytes behind them hold.
    {"a MultiPoint announcing 32000 points",
     [](std::size_t n) {
       return shapefileOf(8, {shapeRaw(8, 0, 32000, {}, Pts(n, {1, 1}))}, dbfFile(1));
     }},
    {"a PolyLine announcing 32000 parts and points",
     [](std::size_t n) {
       return shapefileOf(3, {shapeRaw(3, 32000, 32000, Starts(n, 1), {})}, dbfFile(1));
     }},
    {"an index announcing 2^29 records",
     [](std::size_t n) {
       ShapefileFiles f = pointFiles(n, dbfFile(int(n)));
       putBigEndian(f.shx, 24, 0x7FFFFFFF);
       return f;
     }},
    {"a table announcing 30000 records of 200 columns of width 255",
     [](std::size_t n) {
       return pointFiles(30000, dbfFile(30000, columns(200, 255), rows(n, " ")));
     }},
    // The most shapes and columns that a read takes, whose objects the constant must hold.
    {"32766 Points, a table of 32767 columns announcing their rows",
     [](std::size_t) { return pointFiles(32766, dbfFile(32766, columns(32767, 1), {" "})); }},
    {"a header without terminator",
     [](std::size_t n) {
       File dbf = dbfFile(0, columns(n, 7));
       dbf.resize(dbf.size() - 2);  // no terminator, no end mark
       return shapefileOf(1, {}, dbf);
     }},
};

}  // namespace

// The object model's read, and the engine's, which holds a record or a row at a time and its
// windows on the files: a small multiple of the largest record, never of a count announced.
TEST(ResourceBounds, ReadingHoldsAllocatesAndGetsLinearlyInTheInputSize) {
  for (const auto& [name, make] : kCases) {
    for (std::size_t scale : {10, 300, 3000}) {
      SCOPED_TRACE(std::string(name) + " " + std::to_string(scale));
      const ShapefileFiles files = make(scale);
      TempDir dir;
      writeSet(dir, files, "f");
      ChannelFaults::arm(ChannelFaults::kGet, 0);  // counts gets, fails none
      Cost read = counted([&] {
        Shapefile f;
        f.readShapefile(dir.u16(), u"f");
      });
      auto gets = static_cast<std::size_t>(ChannelFaults::counted(ChannelFaults::kGet));
      ChannelFaults::disarm();
      bool opened = false;
      Cost engine = counted([&] { opened = readWhole(dir.native("f.shp")); });
      const std::size_t n = files.shp.size() + files.shx.size() + files.dbf.size();
      std::printf(
          "%-60s %4zu: %7zu bytes; a byte: %5.1f held at the peak, %.2f allocations, "
          "%.2f gets; the engine: %5.1f, %.2f\n",
          name, scale, n, double(read.peakBytes) / double(n), double(read.allocations) / double(n),
          double(gets) / double(n), double(engine.peakBytes) / double(n),
          double(engine.allocations) / double(n));
      EXPECT_LE(read.peakBytes, kPeakPerInputByte * n + kConstantBytes);
      EXPECT_LE(read.allocations, kAllocationsPerInputByte * n + kConstantOps);
      EXPECT_LE(gets, n + kConstantOps);
      EXPECT_TRUE(opened);
      EXPECT_LE(engine.peakBytes, 3 * n + (std::size_t{2} << 20));
      EXPECT_LE(engine.allocations, kAllocationsPerInputByte * n + kConstantOps);
    }
  }
}

// The engine's writer streams its records to the files, their rows given as values or, as a copy
// gives them, as bytes: what it holds at its peak, and how often it allocates, do not grow with the
// number of records it writes.
TEST(ResourceBounds, TheEngineWriterHoldsNoMoreForMoreRecords) {
  const std::vector<EngineRecord> sample = engineRecords(format::ShapeType::PolyLineZ);
  format::TableLayout layout;
  layout.columns.resize(2);
  layout.columns[0].width = 12, layout.columns[1].width = 200;
  const std::string bytes(212, 'x');
  const format::RowView row{0, false, bytes};
  auto written = [&](int records, bool asBytes) {
    TempDir dir;
    Cost c = counted([&] {
      const auto type = format::ShapeType::PolyLineZ;
      std::unique_ptr<format::LayerWriter> writer =
          asBytes ? std::make_unique<format::LayerWriter>(dir.native("f"), type, layout)
                  : std::make_unique<format::LayerWriter>(dir.native("f"), type, kEngineColumns);
      for (int i = 0; i < records; ++i) {
        const EngineRecord& r = sample[static_cast<std::size_t>(i) % sample.size()];
        asBytes ? writer->add(r.view(), row) : writer->add(r.view(), r.row);
      }
      writer->close();
    });
    return std::pair(c.peakBytes, c.allocations);
  };
  for (bool asBytes : {false, true}) {
    auto [fewPeak, fewAllocations] = written(1000, asBytes);
    auto [manyPeak, manyAllocations] = written(100000, asBytes);
    std::printf(
        "engine writer, rows as %s: 1,000 records: %zu bytes held at the peak, %zu allocations; "
        "100,000: %zu bytes, %zu allocations\n",
        asBytes ? "bytes" : "values", fewPeak, fewAllocations, manyPeak, manyAllocations);
    EXPECT_LE(manyPeak, fewPeak + 4096);
    EXPECT_LE(manyAllocations, fewAllocations + 64);
  }
}

// The engine's reader holds a record and a row at a time: what it holds at its peak does not grow
// with the number of records, small ones with a row of every column type or ones of 8,000
// vertices with Z and M values, read through the index or walking the main file.
TEST(ResourceBounds, TheEngineReaderHoldsNoMoreForMoreRecords) {
  EngineRecord large = engineRecords(format::ShapeType::PolyLineZ)[0];
  large.parts = {0};
  large.points.assign(8000, {1.5, -2.5}), large.z.assign(8000, 3), large.m.assign(8000, 4);
  // Each file of the fewer records is large enough that the reader's windows on it have grown to
  // their full size (ReadOnlyFile::kWindow) and moved on at that size. A walk of the main file
  // keeps each record's place, 8 bytes a record, so it is held to large records.
  const std::tuple<std::vector<EngineRecord>, std::size_t, std::size_t, bool> kinds[] = {
      {engineRecords(format::ShapeType::PolyLineZ), 100000, 300000, true},
      {{large}, 4, 40, true},
      {{large}, 4, 40, false}};
  for (const auto& kind : kinds) {
    // Named, not bound: clang 14 takes no structured binding into a lambda.
    const std::vector<EngineRecord>& sample = std::get<0>(kind);
    const std::size_t fewer = std::get<1>(kind), many = std::get<2>(kind);
    const bool indexed = std::get<3>(kind);
    auto peakOf = [&](std::size_t n) {
      TempDir dir;
      format::LayerWriter writer(dir.native("f"), format::ShapeType::PolyLineZ, kEngineColumns);
      for (std::size_t i = 0; i < n; ++i) {
        writer.add(sample[i % sample.size()].view(), sample[i % sample.size()].row);
      }
      writer.close();
      if (!indexed) std::filesystem::remove(dir.native("f.shx"));
      bool opened = false;
      std::size_t peakBytes = counted([&] { opened = readWhole(dir.native("f.shp")); }).peakBytes;
      EXPECT_TRUE(opened);
      return peakBytes;
    };
    std::size_t few = peakOf(fewer), most = peakOf(many);
    std::printf("engine reader, %s: %zu records: %zu bytes held at the peak; %zu: %zu bytes\n",
                indexed ? "indexed" : "walked", fewer, few, many, most);
    EXPECT_LE(most, few + 4096);
  }
}

// A box query reads the layer's spatial index within the same bounds, whatever the index
// announces: an ESRI .sbn whose node table claims 2^24 nodes, a .qix whose root claims 2^30 ids.
// Each is refused, and the query walks the layer.
TEST(ResourceBounds, ABoxQueryHoldsLinearlyInTheFilesWhateverItsIndexAnnounces) {
  const std::size_t records = 3000;
  const ShapefileFiles files = pointFiles(records, dbfFile(int(records)));
  File sbn(124), qix(16 + 44);
  putBigEndian(sbn, 0, 9994);
  putBigEndian(sbn, 4, -400);
  putBigEndian(sbn, 28, int(records));
  putBigEndian(sbn, 100, 1);
  putBigEndian(sbn, 104, ((1 << 24) - 1) * 8 / 2);
  qix[0] = 'S', qix[1] = 'Q', qix[2] = 'T', qix[3] = 2, qix[4] = 1;
  putBigEndian(qix, 8, int(records));
  putBigEndian(qix, 16 + 36, 1 << 30);
  for (const char* ext : {"sbn", "qix"}) {
    SCOPED_TRACE(ext);
    TempDir dir;
    writeSet(dir, files, "f");
    const File& index = ext[0] == 's' ? sbn : qix;
    dir.write(std::string("f.") + ext, index);
    std::size_t kept = 0;
    format::CollectingReporter reporter;
    Cost query = counted([&] {
      std::unique_ptr<format::Layer> layer = format::Layer::open(dir.native("f.shp"), reporter);
      format::Selection selection;
      selection.box = format::Box{0, 0, 5, 5};
      format::SelectedRecords selected(*layer, selection);
      while (selected.next()) ++kept;
    });
    const std::size_t n = files.shp.size() + files.shx.size() + files.dbf.size() + index.size();
    EXPECT_EQ(kept, records);
    EXPECT_EQ(reporter.count(format::Severity::Irregularity), 1u);
    EXPECT_LE(query.peakBytes, 3 * n + (std::size_t{2} << 20));
  }
}
