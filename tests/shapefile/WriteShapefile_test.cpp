#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <set>

#include "shapefile/WriteFixtures.h"
#include "support/TempDir.h"

namespace kel::writetest {
namespace {

using testing::TempDir;
using Names = std::set<std::string>;

bool writeTo(Shapefile& file, const TempDir& dir, std::u16string_view name = u"out") {
  return file.writeShapefile(std::u16string_view(dir.u16()), name);
}

Names listing(const TempDir& dir) {
  Names names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

TEST(WriteShapefileBytes, PointFileOfThreeShapes) {
  TempDir dir;
  // The second shape's extra vertex is neither written nor counted in the extents.
  auto file =
      makeFile(kelPoint, {makeShape(kelPoint, {{2, 3}}), makeShape(kelPoint, {{-1, 5}, {100, 100}}),
                          makeShape(kelPoint, {{4, -2}})});
  ASSERT_TRUE(writeTo(*file, dir));
  Bytes shp = fileHeader(92, kelPoint, {-1, -2, 4, 5}),
        shx = fileHeader(62, kelPoint, {-1, -2, 4, 5});
  Points firsts{{2, 3}, {-1, 5}, {4, -2}};
  for (int k = 0; k < 3; ++k) {
    shp.i32be(k + 1).i32be(10).i32le(kelPoint).f64(firsts[k].first).f64(firsts[k].second);
    shx.i32be(50 + 14 * k).i32be(10);
  }
  ByteVec main = dir.read("out.shp");
  EXPECT_EQ(main, shp.vec());
  EXPECT_EQ(dir.read("out.shx"), shx.vec());
  EXPECT_EQ(main.size(), 184u);
  EXPECT_EQ(slice(main, 0, 4), (ByteVec{0x00, 0x00, 0x27, 0x0A}));
  EXPECT_EQ(slice(main, 28, 4), (ByteVec{0xE8, 0x03, 0x00, 0x00}));
}

struct ShapeCase {
  Points points;
  std::vector<std::int32_t> laterParts;  // part starts added after the 0 every shape holds
  Box preset;                            // the box the caller set; all zero means none
  std::int32_t contentWords;
  Box written;  // the box expected in the record and in the shape afterwards
};
struct RecordCase {
  const char* what;
  ShapeTypeConstants fileType, laterShapeType;  // the shapes' own type is changed after adding
  std::vector<ShapeCase> shapes;
  Box fileBox;
};

TEST(WriteShapefileBytes, PolyAndMultiPointRecords) {
  const Points square{{0, 0}, {10, 0}, {10, 10}, {0, 0}};
  const Points zigzag{{0, 0}, {1, 1}, {2, 0}, {3, 1}, {4, 0}, {5, 5}, {6, 6}, {7, 5}};
  // clang-format off
  const std::vector<RecordCase> cases = {
      {"polygon with a zero box", kelPolygon, kelPolygon,
       {{square, {}, {0, 0, 0, 0}, 56, {0, 0, 10, 10}}}, {0, 0, 10, 10}},
      {"multipoint: computed, empty and caller-set boxes", kelMultiPoint, kelMultiPoint,
       {{{{1, 2}, {3, -4}, {0, 6}}, {}, {0, 0, 0, 0}, 44, {0, -4, 3, 6}},
        {{}, {}, {0, 0, 0, 0}, 20, {0, 0, 0, 0}},
        {{{50, 50}}, {}, {1, 2, 3, 4}, 28, {1, 2, 3, 4}}}, {0, -4, 50, 50}},
      {"two-part polyline whose shape says polygon; box 0,0,5,0 kept", kelPolyLine, kelPolygon,
       {{zigzag, {5}, {0, 0, 5, 0}, 90, {0, 0, 5, 0}}}, {0, 0, 7, 6}},
  };
  // clang-format on
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::vector<Ref<ShapeObject>> shapes;
    for (const ShapeCase& s : c.shapes) {
      shapes.push_back(makeShape(c.fileType, s.points, s.laterParts));
      setBox(shapes.back()->get_BoundingBox(), s.preset);
    }
    auto file = makeFile(c.fileType, shapes);
    for (const auto& shape : shapes) shape->put_ShapeType(c.laterShapeType);
    ASSERT_TRUE(writeTo(*file, dir));

    Bytes records, entries;
    std::int32_t words = 50;
    for (std::size_t k = 0; k < c.shapes.size(); ++k) {
      const ShapeCase& s = c.shapes[k];
      entries.i32be(words).i32be(s.contentWords);
      records.i32be(static_cast<std::int32_t>(k + 1)).i32be(s.contentWords).i32le(c.fileType);
      for (double v : s.written) records.f64(v);
      auto parts = static_cast<std::int32_t>(s.laterParts.size() + 1);
      if (c.fileType != kelMultiPoint) records.i32le(parts);
      records.i32le(static_cast<std::int32_t>(s.points.size()));
      if (c.fileType != kelMultiPoint) records.i32le(0);
      for (std::int32_t start : s.laterParts) records.i32le(start);
      for (auto [x, y] : s.points) records.f64(x).f64(y);
      words += 4 + s.contentWords;
      EXPECT_EQ(boxOf(shapes[k]->get_BoundingBox()), s.written);
    }
    auto indexWords = static_cast<std::int32_t>(50 + 4 * c.shapes.size());
    EXPECT_EQ(dir.read("out.shp"), fileHeader(words, c.fileType, c.fileBox).append(records).vec());
    EXPECT_EQ(dir.read("out.shx"),
              fileHeader(indexWords, c.fileType, c.fileBox).append(entries).vec());
  }
}

TEST(WriteShapefileBytes, UndefinedTypeWritesHeadersAlone) {
  TempDir dir;
  auto file =
      makeFile(kelUndefined, {makeShape(kelPoint, {{1, 1}}), makeShape(kelPoint, {{2, 2}})});
  ASSERT_TRUE(writeTo(*file, dir));
  // The main length still counts both shapes at the size of a one-part, one-point polygon.
  EXPECT_EQ(dir.read("out.shp"), fileHeader(50 + 2 * 36, kelUndefined, {1, 1, 2, 2}).vec());
  EXPECT_EQ(dir.read("out.shx"), fileHeader(58, kelUndefined, {1, 1, 2, 2}).vec());
  EXPECT_EQ(dir.read("out.dbf").size(), 65u + 2 * 2 + 1);
}

TEST(WriteShapefileExtents, HeaderCarriesTheFileBox) {
  struct Case {
    const char* what;
    ShapeTypeConstants fileType;  // a file of type 0 holds multipoints here
    std::vector<Points> shapes;
    Box preset, expected;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"point rule", kelPoint, {{{2, 3}, {9, 9}}}, {}, {2, 3, 2, 3}},
      {"vertex rule", kelMultiPoint, {{{2, 3}, {9, 9}}}, {}, {2, 3, 9, 9}},
      {"every shape", kelPolyLine, {{{1, 1}, {3, 4}}, {{-2, 0}}}, {}, {-2, 0, 3, 4}},
      {"a later shape without vertices", kelPolyLine, {{{1, 1}, {3, 4}}, {}}, {}, {1, 1, 3, 4}},
      {"type 0 takes every vertex", kelUndefined, {{{1, 1}, {3, 4}}, {{-2, 0}}}, {}, {-2, 0, 3, 4}},
      {"one repeated vertex", kelPolygon, {{{5, 5}, {5, 5}}}, {}, {5, 5, 5, 5}},
      {"negative zero is zero", kelPoint, {{{1, 2}}}, {-0.0, 0, -0.0, -0.0}, {1, 2, 1, 2}},
      {"the caller's box is kept", kelPoint, {{{7, 7}}}, {0, 0, 0, 5}, {0, 0, 0, 5}},
      {"no shapes", kelPolygon, {}, {}, {0, 0, 0, 0}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    std::vector<Ref<ShapeObject>> shapes;
    for (const Points& points : c.shapes) {
      shapes.push_back(makeShape(c.fileType ? c.fileType : kelMultiPoint, points));
    }
    auto file = makeFile(c.fileType, shapes);
    setBox(file->get_BoundingBox(), c.preset);
    ASSERT_TRUE(writeTo(*file, dir));
    Bytes box;
    for (double v : c.expected) box.f64(v);
    EXPECT_EQ(slice(dir.read("out.shp"), 36, 32), box.vec());
    EXPECT_EQ(slice(dir.read("out.shx"), 36, 32), box.vec());
    EXPECT_EQ(boxOf(file->get_BoundingBox()), c.expected);
  }
}

TEST(WriteShapefileExtents, ShapeWithoutVerticesLeavesThreeEmptyFiles) {
  // A polyline file fails on its first shape only; the point rule touches every shape.
  for (auto [type, empty] : {std::pair{kelPolyLine, 0}, std::pair{kelPoint, 1}}) {
    SCOPED_TRACE(type);
    TempDir dir;
    std::vector<Ref<ShapeObject>> shapes{makeShape(type, {{1, 1}}), makeShape(type, {{2, 2}})};
    shapes[empty] = makeShape(type, {});
    EXPECT_FALSE(writeTo(*makeFile(type, shapes), dir));
    EXPECT_EQ(listing(dir), (Names{"out.dbf", "out.shp", "out.shx"}));
    for (const char* name : {"out.shp", "out.shx", "out.dbf"}) EXPECT_TRUE(dir.read(name).empty());
  }
}

TEST(WriteShapefileDriver, OldFilesAreDeletedEvenWhenTheWriteFails) {
  TempDir dir;
  for (const char* name : {"roads.shp", "ROADS.SHP", "Roads.shx", "roads.dbf"}) {
    dir.write(name, ByteVec(300, 'X'));
  }
  // A set box skips the extents; the empty second shape then stops the record writer.
  auto file = makeFile(kelPoint, {makeShape(kelPoint, {{1, 1}}), makeShape(kelPoint, {})});
  setBox(file->get_BoundingBox(), {1, 1, 2, 2});
  EXPECT_FALSE(writeTo(*file, dir, u"roads"));
  EXPECT_EQ(listing(dir), (Names{"roads.dbf", "roads.shp", "roads.shx"}));
  EXPECT_TRUE(dir.read("roads.dbf").empty());
  Bytes first = fileHeader(78, kelPoint, {1, 1, 2, 2});
  first.i32be(1).i32be(10).i32le(kelPoint).f64(1).f64(1);
  EXPECT_EQ(slice(dir.read("roads.shp"), 0, first.size()), first.vec());
}

TEST(WriteShapefileDriver, ReadBackAndWrittenAgainGivesTheSameFiles) {
  TempDir dir;
  for (const char* name : {"ROADS.SHP", "roads.shx", "ROADS.dbf"}) dir.write(name, {1, 2, 3});
  auto file = makeFile(
      kelPolygon,
      {makeShape(kelPolygon, {{0, 0}, {0, 10}, {10, 10}, {10, 0}, {0, 0}, {2, 2}, {4, 2}, {2, 2}},
                 {5}),
       makeShape(kelPolygon, {{20, 20}, {20, 30}, {30, 20}, {20, 20}})});
  addTable(*file, {{u"name", kelFieldTypeCharacter, 8, 0}, {u"pop", kelFieldTypeNumber, 6, 1}},
           {{{u"name", u"alpha"}}, {{u"pop", u"12.5"}}});
  std::u16string base = dir.u16(), name = u"Roads.SHP";
  ASSERT_TRUE(file->writeShapefile(base, name));
  EXPECT_EQ(base, dir.u16() + u"\\");
  EXPECT_EQ(name, u"Roads");
  EXPECT_EQ(listing(dir), (Names{"Roads.dbf", "Roads.shp", "Roads.shx"}));

  auto back = makeRef<Shapefile>();
  ASSERT_TRUE(back->readShapefile(std::u16string_view(base), u"roads"));
  ASSERT_EQ(back->get_ShapeObjectCount(), 2);
  EXPECT_EQ(back->getShapeObject(1)->get_PartCount(), 2);
  Ref<Record> second = back->getShapeObject(2)->get_Record();
  EXPECT_EQ(back->getShapeObject(1)->get_Record()->getFieldByName(u"name")->value(), u"   alpha");
  EXPECT_EQ(second->getFieldByName(u"name")->value(), u"        ");
  EXPECT_EQ(second->getFieldByName(u"pop")->value(), u"  12.5");
  std::filesystem::create_directory(dir / "again");
  ASSERT_TRUE(back->writeShapefile(std::u16string_view(dir.u16() + u"/again"), u"Roads"));
  for (std::string ext : {".shp", ".shx", ".dbf"}) {
    ByteVec first = dir.read("Roads" + ext), again = dir.read("again/Roads" + ext);
    ASSERT_EQ(again.size(), first.size()) << ext;
    if (ext == ".dbf") std::copy(first.begin() + 1, first.begin() + 4, again.begin() + 1);
    EXPECT_EQ(again, first) << ext;  // the date bytes aside, should midnight fall in between
  }
}

TEST(WriteShapefileDriver, NamesFollowThePathRules) {
  TempDir dir;
  auto file = makeFile(kelPoint, {makeShape(kelPoint, {{1, 1}})});
  // Only ".shp" is dropped from a file name, and only once.
  for (std::u16string name : {u"roads.dbf", u"twice.shp.SHP"}) {
    ASSERT_TRUE(writeTo(*file, dir, name));
  }
  EXPECT_EQ(listing(dir), (Names{"roads.dbf.dbf", "roads.dbf.shp", "roads.dbf.shx", "twice.shp.dbf",
                                 "twice.shp.shp", "twice.shp.shx"}));
  // An empty name makes ".shp" and friends: hidden, so the look-up never deletes them; they are
  // emptied instead, or old bytes would trail the new end.
  for (const char* name : {".shp", ".shx", ".dbf"}) dir.write(name, ByteVec(2000, 'X'));
  ASSERT_TRUE(writeTo(*file, dir, u""));
  EXPECT_EQ(dir.read(".shp").size(), 128u);
  EXPECT_EQ(dir.read(".shx").size(), 108u);
  EXPECT_EQ(dir.read(".dbf").size(), 68u);
  if (access("/", W_OK) != 0) GTEST_SKIP() << "an empty base path names /, which we cannot write";
  std::string stem = "kelwr-" + std::to_string(getpid());
  std::u16string base, name(stem.begin(), stem.end());
  EXPECT_TRUE(file->writeShapefile(base, name));
  EXPECT_EQ(base, u"\\");
  for (std::string ext : {".shp", ".shx", ".dbf"}) {
    EXPECT_TRUE(std::filesystem::remove("/" + stem + ext));
  }
}

TEST(WriteShapefileDriver, SixteenBitCountersBoundTheWrite) {
  // 32766 shapes, or vertices in one shape, are the most that a 16-bit loop counter lets through.
  for (int n : {32766, 32767}) {
    SCOPED_TRACE(n);
    TempDir dir;
    Points points;
    std::vector<Ref<ShapeObject>> shapes;
    for (int i = 0; i < n; ++i) {
      points.push_back({1.0 * i, 2});
      shapes.push_back(makeShape(kelPoint, {points.back()}));
    }
    auto longShape = makeFile(kelMultiPoint, {makeShape(kelMultiPoint, points)});
    // A set box leaves the vertices to the record writer's counter alone.
    setBox(longShape->get_BoundingBox(), {0, 0, 1, 1});
    EXPECT_EQ(writeTo(*makeFile(kelPoint, shapes), dir, u"many"), n == 32766);
    EXPECT_EQ(writeTo(*longShape, dir, u"long"), n == 32766);
  }
}

std::size_t openDescriptors() {
  auto entries = std::filesystem::directory_iterator("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

TEST(WriteShapefileDriver, FailuresReportFalseAndLeakNoDescriptors) {
  TempDir dir;
  dir.write("plain", {1});
  auto good = [] { return makeFile(kelPoint, {makeShape(kelPoint, {{1, 1}})}); };
  auto chinese = good();
  addTable(*chinese, {{u"name", kelFieldTypeCharacter, 4, 0}}, {{{u"name", u"\u4E2D"}}});
  // Root may write wherever only permissions guard, so these places refuse root as well.
  const std::vector<std::pair<std::string, Ref<Shapefile>>> cases = {
      {dir.str() + "/missing/", good()},
      {dir.str() + "/plain/", good()},  // a regular file where a directory should be
      {"/proc/", good()},
      {"/sys/", good()},
      {dir.str(), makeFile(kelPoint, {makeShape(kelPoint, {})})},
      {dir.str(), chinese},
  };
  std::size_t before = openDescriptors();
  for (const auto& [base, file] : cases) {
    SCOPED_TRACE(base);
    EXPECT_FALSE(file->writeShapefile(std::u16string(base.begin(), base.end()), u"kelwr"));
  }
  EXPECT_EQ(openDescriptors(), before);
}

TEST(WriteShapefileDriver, FullDiskReportsFalse) {
  // 5000 points overflow the channel's buffer mid-write; 20 fail only when the files are closed.
  for (int count : {20, 5000}) {
    SCOPED_TRACE(count);
    TempDir dir;
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{200, 200};
      setrlimit(RLIMIT_FSIZE, &limit);
      std::vector<Ref<ShapeObject>> shapes;
      for (int i = 0; i < count; ++i) shapes.push_back(makeShape(kelPoint, {{1.0 * i, 2}}));
      _exit(writeTo(*makeFile(kelPoint, shapes), dir) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the writer crashed, status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "writeShapefile reported success on a full disk";
  }
}

}  // namespace
}  // namespace kel::writetest
