#include <gtest/gtest.h>

#include <filesystem>

#include "kel/runtime/AtomicFileSet.h"
#include "kel/runtime/FileChannel.h"
#include "kel/shapefile/ShapefileAtPath.h"
#include "support/EngineWriting.h"
#include "support/ErrorOf.h"
#include "support/ShapefileFixtures.h"

using namespace kel;
using namespace kel::testing;

// Each driver is walked through every channel operation that it makes, and the k-th open, get,
// put or close is made to fail, for every k: the call must return false, close every file it
// opened, give the error it caught as its reason and leave the object model and the files as far
// as it got.
namespace {

using Op = ChannelFaults::Operation;
constexpr std::pair<Op, const char*> kOps[] = {{ChannelFaults::kOpen, "open"},
                                               {ChannelFaults::kGet, "get"},
                                               {ChannelFaults::kPut, "put"},
                                               {ChannelFaults::kClose, "close"}};

// attempt(counting) makes the call on a new model and returns the call's result and the model;
// it runs once counting the operations (none of `never` may come), then once for each failure,
// after which check(op, model, counted model) looks at what the call left.
template <class Attempt, class Check>
void failEachOperation(std::int32_t type, Op never, Attempt&& attempt, Check&& check) {
  ChannelFaults::arm(ChannelFaults::kOpen, 0);
  auto [counted, full] = attempt(true);
  ChannelFaults::disarm();
  ASSERT_TRUE(counted);
  EXPECT_EQ(ChannelFaults::counted(ChannelFaults::kOpen), 3);
  EXPECT_EQ(ChannelFaults::counted(never), 0);
  std::array<std::int64_t, ChannelFaults::kOperations> counts{};
  for (auto [op, name] : kOps) counts[op] = ChannelFaults::counted(op);
  for (auto [op, name] : kOps) {
    for (std::int64_t k = 1; k <= counts[op]; ++k) {
      SCOPED_TRACE(std::to_string(type) + ": " + name + " " + std::to_string(k));
      long fds = openFds();
      ChannelFaults::arm(op, k);
      auto [ok, f] = attempt(false);
      ChannelFaults::disarm();
      EXPECT_FALSE(ok);
      EXPECT_EQ(openFds(), fds);
      ASSERT_TRUE(f->lastFailure());
      const std::string& why = f->lastFailure()->sentence;
      EXPECT_NE(why.find(op == ChannelFaults::kOpen ? "(error 75)" : "(error 57)"),
                std::string::npos)
          << why;
      // The file's extents are either untouched or what the whole call makes of them.
      Box box = boxOf(f->get_BoundingBox());
      EXPECT_TRUE(box == Box{} || box == boxOf(full->get_BoundingBox()));
      check(op, *f, *full);
    }
  }
}

std::vector<std::u16string> columnNames(const Shapefile& f) {
  std::vector<std::u16string> names;
  for (std::int16_t j = 1; j <= f.get_TableDescription()->get_DescriptorCount(); ++j) {
    names.push_back(f.get_TableDescription()->getTableDescriptorByIndex(j)->get_name());
  }
  return names;
}

template <class T>
bool isPrefix(const std::vector<T>& part, const std::vector<T>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

}  // namespace

TEST(FaultInjection, EveryFailingChannelOperationFailsTheRead) {
  for (std::int32_t type : {kelPoint, kelPolyLine, kelPolygon, kelMultiPoint}) {
    TempDir dir;
    const ShapefileFiles files = sampleFiles(type);
    writeSet(dir, files, "roads");
    auto attempt = [&](bool) {
      auto f = makeRef<Shapefile>();
      return std::pair(f->readShapefile(dir.u16(), u"roads"), f);
    };
    failEachOperation(
        type, ChannelFaults::kPut, attempt, [&](Op op, Shapefile& f, Shapefile& full) {
          EXPECT_TRUE(dir.read("roads.shp") == files.shp && dir.read("roads.shx") == files.shx &&
                      dir.read("roads.dbf") == files.dbf);
          // What was read before the failure stays: whole shapes, columns, and the records only
          // once the table was read to its end (the close of a file comes after that).
          ASSERT_LE(f.get_ShapeObjectCount(), full.get_ShapeObjectCount());
          for (std::int16_t i = 1; i <= f.get_ShapeObjectCount(); ++i) {
            Ref<ShapeObject> got = f.getShapeObject(i), want = full.getShapeObject(i);
            EXPECT_EQ(got->get_ShapeType(), want->get_ShapeType());
            EXPECT_EQ(coordsOf(got), coordsOf(want));
            EXPECT_EQ(partsOf(got), partsOf(want));
            EXPECT_EQ(boxOf(got->get_BoundingBox()), boxOf(want->get_BoundingBox()));
            EXPECT_EQ(fieldsOf(got->get_Record()),
                      op == ChannelFaults::kClose ? fieldsOf(want->get_Record()) : Fields{});
          }
          EXPECT_TRUE(isPrefix(columnNames(f), columnNames(full)));
        });
  }
}

TEST(FaultInjection, EveryFailingChannelOperationFailsTheWrite) {
  for (std::int32_t type : {kelPoint, kelPolyLine, kelPolygon, kelMultiPoint}) {
    TempDir fullDir, dir;  // each write deletes the files that the one before left in dir
    auto attempt = [&](bool counting) {
      Ref<Shapefile> f = sampleModel(type);
      return std::pair(writeTo(*f, counting ? fullDir : dir), f);
    };
    failEachOperation(
        type, ChannelFaults::kGet, attempt, [&](Op op, Shapefile& f, Shapefile& full) {
          // Every file is there as far as it was written; one not yet opened is not there at all.
          for (std::string name : {"out.shp", "out.shx", "out.dbf"}) {
            EXPECT_TRUE(std::filesystem::exists(dir.native(name)) || op == ChannelFaults::kOpen);
            EXPECT_TRUE(isPrefix(dir.read(name), fullDir.read(name))) << name;
          }
          // The model changes only where a full write changes it: the extents it computes.
          for (std::int16_t i = 1; i <= f.get_ShapeObjectCount(); ++i) {
            Ref<ShapeObject> got = f.getShapeObject(i), want = full.getShapeObject(i);
            EXPECT_EQ(coordsOf(got), coordsOf(want));
            EXPECT_EQ(partsOf(got), partsOf(want));
            EXPECT_EQ(fieldsOf(got->get_Record()), fieldsOf(want->get_Record()));
            Box shapeBox = boxOf(got->get_BoundingBox());
            EXPECT_TRUE(shapeBox == Box{} || shapeBox == boxOf(want->get_BoundingBox()));
          }
          EXPECT_EQ(columnNames(f), columnNames(full));
        });
  }
}

// replaceShapefile fails at each creation, flush to disk, rename and removal of its files, with
// and without hard links, and at each open, put and close of the channels that write them, in
// turn: every failure raises its reason and leaves the old layer byte for byte and no temporary
// file; the write that fails nothing puts the new layer in place of the old one and its .cpg and
// spatial index.
TEST(FaultInjection, EveryFailureOfReplaceShapefileLeavesTheOldLayer) {
  TempDir dir;
  auto oldLayer = [&] {
    for (const auto& [name, bytes] : pictureOf(dir)) std::filesystem::remove(dir.native(name));
    writeSet(dir, sampleFiles(kelPolyLine), "roads");
    dir.write("roads.cpg", std::string("UTF-8"));
    dir.write("roads.sbn", std::string("index"));
    return pictureOf(dir);
  };
  auto replace = [&] {
    Ref<Shapefile> f = sampleModel(kelPolyLine);
    return std::pair(errorOf([&] { replaceShapefile(*f, dir.native("roads")); }), f);
  };
  // Counts the operations of a kind in a write that succeeds, then fails each in turn.
  auto failEach = [&](const std::string& what, auto arm, auto disarm, auto counted) {
    oldLayer();
    arm(0);
    auto [error, full] = replace();
    disarm();
    EXPECT_EQ(error, 0) << what;
    std::vector<std::string> names;
    for (const auto& [name, bytes] : pictureOf(dir)) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"roads.dbf", "roads.shp", "roads.shx"})) << what;
    std::int64_t n = counted();
    for (std::int64_t k = 1; k <= n; ++k) {
      SCOPED_TRACE(what + " " + std::to_string(k));
      const DirectoryPicture old = oldLayer();
      arm(k);
      auto [failed, f] = replace();
      disarm();
      EXPECT_NE(failed, 0);
      EXPECT_EQ(pictureOf(dir), old);
      std::string why = f->lastFailure() ? f->lastFailure()->sentence : "";
      EXPECT_NE(why.find("(error " + std::to_string(failed) + ")"), std::string::npos) << why;
    }
    return n;
  };
  using Set = FileSetFaults;
  for (bool links : {true, false}) {
    // Three files made, written by channels, flushed and renamed, and the recovery record made,
    // written, flushed and named; the .cpg and spatial index removed, unless moved aside for want
    // of links.
    const std::pair<Set::Operation, std::int64_t> counts[] = {{Set::kCreate, 4},
                                                              {Set::kWrite, 1},
                                                              {Set::kSync, 4},
                                                              {Set::kRename, 4},
                                                              {Set::kRemove, links ? 2 : 0}};
    for (const auto& [kind, count] : counts) {
      const Set::Operation op = kind;  // a variable, which a lambda takes (clang 14)
      auto arm = [op, links](std::int64_t k) {
        Set::arm(op, k);
        if (!links) Set::withoutLinks();
      };
      EXPECT_EQ(failEach("file set " + std::to_string(op) + (links ? "" : " without links"), arm,
                         Set::disarm, [op] { return Set::counted(op); }),
                count);
    }
  }
  for (const auto& [kind, name] : {kOps[0], kOps[2], kOps[3]}) {
    const auto op = kind;  // a variable, which a lambda takes (clang 14)
    std::int64_t n = failEach(
        name, [op](std::int64_t k) { ChannelFaults::arm(op, k); }, ChannelFaults::disarm,
        [op] { return ChannelFaults::counted(op); });
    EXPECT_GE(n, 3) << name;
  }
}
