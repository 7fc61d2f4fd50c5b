#include <gtest/gtest.h>

#include <filesystem>

#include "support/ShapefileFixtures.h"

using namespace kel;
using namespace kel::testing;

// Each driver is walked through every channel operation that it makes, and the k-th open, get,
// put or close is made to fail, for every k: the call must return false, close every file it
// opened and leave the object model and the files as far as it got.
namespace {

using Op = ChannelFaults::Operation;
constexpr std::pair<Op, const char*> kOps[] = {{ChannelFaults::kOpen, "open"},
                                               {ChannelFaults::kGet, "get"},
                                               {ChannelFaults::kPut, "put"},
                                               {ChannelFaults::kClose, "close"}};

class FaultPlan {
 public:
  FaultPlan(Op op, std::int64_t failAt) { ChannelFaults::arm(op, failAt); }
  ~FaultPlan() { ChannelFaults::disarm(); }
  FaultPlan(const FaultPlan&) = delete;
  FaultPlan& operator=(const FaultPlan&) = delete;
};

// A driver call made once with a counting plan: how many operations of each kind it makes.
template <class Call>
std::array<std::int64_t, ChannelFaults::kOperations> countOperations(Call&& call) {
  FaultPlan counting(ChannelFaults::kOpen, 0);
  EXPECT_TRUE(call());
  std::array<std::int64_t, ChannelFaults::kOperations> counts{};
  for (auto [op, name] : kOps) counts[op] = ChannelFaults::counted(op);
  return counts;
}

bool isPrefix(const File& part, const File& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

std::vector<std::u16string> columnNames(const Shapefile& f) {
  std::vector<std::u16string> names;
  for (std::int16_t j = 1; j <= f.get_TableDescription()->get_DescriptorCount(); ++j) {
    names.push_back(f.get_TableDescription()->getTableDescriptorByIndex(j)->get_name());
  }
  return names;
}

}  // namespace

TEST(FaultInjection, EveryFailingChannelOperationFailsTheRead) {
  for (std::int32_t type : {kelPoint, kelPolyLine, kelPolygon, kelMultiPoint}) {
    TempDir dir;
    const ShapefileFiles files = sampleFiles(type);
    writeSet(dir, files, "roads");
    Shapefile full;
    auto counts = countOperations([&] { return full.readShapefile(dir.u16(), u"roads"); });
    EXPECT_EQ(counts[ChannelFaults::kOpen], 3);
    EXPECT_EQ(counts[ChannelFaults::kPut], 0);  // a read writes nothing
    for (auto [op, name] : kOps) {
      for (std::int64_t k = 1; k <= counts[op]; ++k) {
        const std::string where = std::to_string(type) + ": " + name + " " + std::to_string(k);
        Shapefile f;
        long fds = openFds();
        bool read;
        {
          FaultPlan plan(op, k);
          read = f.readShapefile(dir.u16(), u"roads");
        }
        EXPECT_FALSE(read) << where;
        EXPECT_EQ(openFds(), fds) << where;
        // The files are sound: the reason is the error that the read caught.
        ASSERT_TRUE(f.lastFailure()) << where;
        EXPECT_NE(f.lastFailure()->sentence.find(op == ChannelFaults::kOpen ? "(error 75)"
                                                                            : "(error 57)"),
                  std::string::npos)
            << where << ": " << f.lastFailure()->sentence;
        EXPECT_TRUE(dir.read("roads.shp") == files.shp && dir.read("roads.shx") == files.shx &&
                    dir.read("roads.dbf") == files.dbf)
            << where;
        // What was read before the failure stays: whole shapes, columns, and the records only
        // once the table was read to its end (the close of a file comes after that).
        ASSERT_LE(f.get_ShapeObjectCount(), full.get_ShapeObjectCount()) << where;
        for (std::int16_t i = 1; i <= f.get_ShapeObjectCount(); ++i) {
          Ref<ShapeObject> got = f.getShapeObject(i), want = full.getShapeObject(i);
          EXPECT_EQ(got->get_ShapeType(), want->get_ShapeType()) << where;
          EXPECT_EQ(coordsOf(got), coordsOf(want)) << where;
          EXPECT_EQ(partsOf(got), partsOf(want)) << where;
          EXPECT_EQ(boxOf(got->get_BoundingBox()), boxOf(want->get_BoundingBox())) << where;
          EXPECT_EQ(fieldsOf(got->get_Record()),
                    op == ChannelFaults::kClose ? fieldsOf(want->get_Record()) : Fields{})
              << where;
        }
        std::vector<std::u16string> columns = columnNames(f), all = columnNames(full);
        EXPECT_TRUE(columns.size() <= all.size() &&
                    std::equal(columns.begin(), columns.end(), all.begin()))
            << where;
        Box box = boxOf(f.get_BoundingBox());
        EXPECT_TRUE(box == Box{} || box == boxOf(full.get_BoundingBox())) << where;
      }
    }
  }
}

TEST(FaultInjection, EveryFailingChannelOperationFailsTheWrite) {
  for (std::int32_t type : {kelPoint, kelPolyLine, kelPolygon, kelMultiPoint}) {
    TempDir fullDir, dir;  // each write deletes the files that the one before left in dir
    Ref<Shapefile> full = sampleModel(type);
    auto counts = countOperations([&] { return writeTo(*full, fullDir); });
    EXPECT_EQ(counts[ChannelFaults::kOpen], 3);
    EXPECT_EQ(counts[ChannelFaults::kGet], 0);  // a write reads nothing
    for (auto [op, name] : kOps) {
      for (std::int64_t k = 1; k <= counts[op]; ++k) {
        const std::string where = std::to_string(type) + ": " + name + " " + std::to_string(k);
        Ref<Shapefile> f = sampleModel(type);
        long fds = openFds();
        bool written;
        {
          FaultPlan plan(op, k);
          written = writeTo(*f, dir);
        }
        EXPECT_FALSE(written) << where;
        EXPECT_EQ(openFds(), fds) << where;
        ASSERT_TRUE(f->lastFailure()) << where;
        EXPECT_NE(f->lastFailure()->sentence.find(op == ChannelFaults::kOpen ? "(error 75)"
                                                                             : "(error 57)"),
                  std::string::npos)
            << where << ": " << f->lastFailure()->sentence;
        // Every file is there as far as it was written; one not yet opened is not there at all.
        for (const char* ext : {".shp", ".shx", ".dbf"}) {
          bool exists = std::filesystem::exists(dir.native(std::string("out") + ext));
          EXPECT_TRUE(exists || op == ChannelFaults::kOpen) << where << ext;
          EXPECT_TRUE(
              isPrefix(dir.read(std::string("out") + ext), fullDir.read(std::string("out") + ext)))
              << where << ext;
        }
        // The model changes only where a full write changes it: the extents it computes.
        Box box = boxOf(f->get_BoundingBox());
        EXPECT_TRUE(box == Box{} || box == boxOf(full->get_BoundingBox())) << where;
        for (std::int16_t i = 1; i <= f->get_ShapeObjectCount(); ++i) {
          Ref<ShapeObject> got = f->getShapeObject(i), want = full->getShapeObject(i);
          EXPECT_EQ(coordsOf(got), coordsOf(want)) << where;
          EXPECT_EQ(partsOf(got), partsOf(want)) << where;
          EXPECT_EQ(fieldsOf(got->get_Record()), fieldsOf(want->get_Record())) << where;
          Box shapeBox = boxOf(got->get_BoundingBox());
          EXPECT_TRUE(shapeBox == Box{} || shapeBox == boxOf(want->get_BoundingBox())) << where;
        }
        EXPECT_EQ(columnNames(*f), columnNames(*full)) << where;
      }
    }
  }
}
