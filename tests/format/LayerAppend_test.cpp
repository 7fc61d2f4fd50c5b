#include <gtest/gtest.h>

#include <filesystem>

#include "kel/format/Layer.h"
#include "kel/format/LayerWriter.h"
#include "kel/runtime/AtomicFileSet.h"
#include "support/EngineWriting.h"
#include "support/PeerTools.h"

using namespace kel::testing;
using kel::FileSetFaults;

namespace {

constexpr fmt::ShapeType kType = fmt::ShapeType::PolygonZ;

struct LayerAppendTest : ::testing::Test {
  TempDir dir;
  std::string path() const { return dir.native("f"); }

  // The layer added to: three records and a spatial index, alone in the directory.
  DirectoryPicture oldLayer() {
    for (const auto& entry : std::filesystem::directory_iterator(dir.str())) {
      std::filesystem::remove_all(entry.path());
    }
    writeLayer(path(), kType, engineRecords(kType));
    dir.write("f.qix", std::string("old index"));
    return pictureOf(dir);
  }

  static std::vector<EngineRecord> added(int copies) {
    std::vector<EngineRecord> records = engineRecords(kType, copies);
    for (EngineRecord& r : records) {
      for (fmt::XY& p : r.points) p.x += 100;
    }
    return records;
  }

  void append(const std::vector<EngineRecord>& records, fmt::ShapeType type = kType,
              const std::vector<fmt::ColumnDefinition>& columns = kEngineColumns) {
    fmt::WriteOptions o;
    o.append = true;
    writeLayer(path(), type, records, o, columns);
  }

  // The names a user sees, and their bytes.
  DirectoryPicture visible() const {
    DirectoryPicture picture = pictureOf(dir);
    std::erase_if(picture, [](const auto& entry) { return entry.first[0] == '.'; });
    return picture;
  }
};

}  // namespace

// The records go after the old ones, the headers count and bound them all, the spatial index that
// described the old records goes, and GDAL reads the whole. A layer of another type or other
// columns, or whose files do not end where their headers say, is refused and left as it was; so
// is the layer when a record is refused and the writer is dropped.
TEST_F(LayerAppendTest, RecordsGoAfterTheOldOnesAndAnythingElseLeavesTheLayerAsItWas) {
  oldLayer();
  append(added(2));
  fmt::CollectingReporter reporter;
  std::unique_ptr<fmt::Layer> layer = fmt::Layer::open(path(), reporter);
  ASSERT_TRUE(layer);
  EXPECT_EQ(reporter.count(fmt::Severity::Error) + reporter.count(fmt::Severity::Irregularity), 0u);
  ASSERT_EQ(layer->count(), 9);
  ASSERT_EQ(layer->table()->count(), 9);
  std::vector<EngineRecord> all = engineRecords(kType), more = added(2);
  all.insert(all.end(), more.begin(), more.end());
  fmt::ShapeView v;
  for (std::int64_t i = 0; i < 9; ++i) {
    ASSERT_TRUE(layer->shapes().read(i, v));
    const EngineRecord& r = all[static_cast<std::size_t>(i)];
    EXPECT_EQ(v.points.size(), r.points.size());
    if (!r.points.empty()) {
      EXPECT_EQ(v.points[0].x, r.points[0].x);
    }
    EXPECT_EQ(layer->table()->value(layer->table()->read(i), 1), r.row[1]);
  }
  EXPECT_EQ(layer->shapes().header().xMin, -3);
  EXPECT_EQ(layer->shapes().header().xMax, 114);
  layer.reset();
  EXPECT_FALSE(std::filesystem::exists(dir.native("f.qix")));
  EXPECT_NE(run("ogrinfo -ro -so -al " + quote(dir.native("f.shp"))).find("Feature Count: 9"),
            std::string::npos);

  std::vector<fmt::ColumnDefinition> renamed = kEngineColumns, retyped = kEngineColumns;
  renamed[2].name = "SURFACE";
  retyped[1].type = 'C';
  std::vector<fmt::ColumnDefinition> fewer(kEngineColumns.begin(), kEngineColumns.end() - 1);
  struct Case {
    const char* why;
    fmt::ShapeType type;
    const std::vector<fmt::ColumnDefinition>& columns;
    const char* damage = nullptr;  // a file cut short, or removed
    std::size_t cut = 0;
  } cases[] = {
      {"holds PolygonZ shapes; these are PolyLineZ", fmt::ShapeType::PolyLineZ, kEngineColumns},
      {"the layer has 6 columns; 5 were given", kType, fewer},
      {"column 3 is 'AREA'", kType, renamed},
      {"column 2 is 'COUNT' of type N", kType, retyped},
      {"do not end where their headers say", kType, kEngineColumns, "f.shx", 8},
      {"the header counts 3 rows; the file holds 2", kType, kEngineColumns, "f.dbf", 2},
      {"no layer to add to", kType, kEngineColumns, "f.shp"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    oldLayer();
    if (c.damage != nullptr) {
      File bytes = dir.read(c.damage);
      bytes.resize(c.cut == 0 ? 0 : bytes.size() - c.cut);
      if (c.cut == 0) std::filesystem::remove(dir.native(c.damage));
      if (c.cut != 0) dir.write(c.damage, bytes);
    }
    const DirectoryPicture before = pictureOf(dir);
    try {
      append(added(1), c.type, c.columns);
      ADD_FAILURE() << "not refused";
    } catch (const fmt::WriteError& e) {
      EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
    }
    EXPECT_EQ(pictureOf(dir), before);
  }

  const DirectoryPicture old = oldLayer();
  {
    fmt::WriteOptions o;
    o.append = true;
    fmt::LayerWriter writer(path(), kType, kEngineColumns, o);
    std::vector<EngineRecord> records = added(400);  // more than a buffer holds
    for (const EngineRecord& r : records) writer.add(r.view(), r.row);
    EngineRecord wide = records[0];
    wide.row[0] = std::string(13, 'x');
    EXPECT_THROW(writer.add(wide.view(), wide.row), fmt::WriteError);
  }  // dropped without close()
  EXPECT_EQ(pictureOf(dir), old);
}

// The appending process dies at each system call in turn, or each kind of call fails in turn: the
// next open finds the old records to the byte, never a mix; the append that ends finds them all.
TEST_F(LayerAppendTest, AKillOrAFailureAnywhereLeavesTheOldLayerOrTheWholeNewOne) {
  const std::vector<EngineRecord> records = added(300);
  oldLayer();
  append(records);
  const DirectoryPicture fresh = visible();
  DirectoryPicture old;
  const int killed = killAtEachCall(
      [&] {
        oldLayer();
        old = visible();
      },
      [&] { append(records); },
      [&](int) {
        fmt::CollectingReporter reporter;
        ASSERT_NE(fmt::Layer::open(path(), reporter), nullptr);
        DirectoryPicture now = visible();
        // Killed between the removal of the index and that of the recovery record: the old
        // records come back, without the index, which no longer describes the layer on the disk.
        DirectoryPicture unindexed = old;
        unindexed.erase("f.qix");
        // The recovery record goes with the last call: before it, the old records come back.
        ASSERT_TRUE(now == old || now == unindexed);
      });
  EXPECT_GT(killed, 20);

  for (auto op : {FileSetFaults::kCreate, FileSetFaults::kWrite, FileSetFaults::kSync,
                  FileSetFaults::kRemove}) {
    failAtEachCall(dir, op, true, [&] { return oldLayer(); }, [&] { append(records); });
    EXPECT_EQ(visible(), fresh);
  }
}
