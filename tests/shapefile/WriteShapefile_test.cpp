#include <gtest/gtest.h>
#include <unistd.h>

#include <bit>
#include <functional>
#include <limits>

#include "kel/shapefile/ShapefileAtPath.h"
#include "support/EngineWriting.h"
#include "support/ErrorOf.h"
#include "support/ShapefileFixtures.h"

using namespace kel;
using namespace kel::testing;

// The sample of each type, built through the public members, must give the bytes built by hand
// and read back as it was written.
TEST(WriteShapefileBytes, SampleOfEachTypeWritesTheBytesBuiltByHandAndReadsBack) {
  for (std::int32_t type : {kelPoint, kelPolyLine, kelPolygon, kelMultiPoint}) {
    SCOPED_TRACE(type);
    TempDir dir;
    Ref<Shapefile> file = sampleModel(type);
    // A Point record holds the first vertex alone; a second is neither written nor counted.
    if (type == kelPoint) file->getShapeObject(2)->addCoord(makeShape(1, {{99, 99}})->getCoord(1));
    ASSERT_TRUE(writeTo(*file, dir));
    const ShapefileFiles want = sampleFiles(type);
    const File shp = dir.read("out.shp"), shx = dir.read("out.shx"), dbf = dir.read("out.dbf");
    EXPECT_EQ(shp, want.shp);
    EXPECT_EQ(shx, want.shx);
    EXPECT_EQ(dbf, withDateOf(want.dbf, dbf));
    EXPECT_EQ(File(shp.begin(), shp.begin() + 4), (File{0x00, 0x00, 0x27, 0x0A}));
    EXPECT_EQ(File(shp.begin() + 28, shp.begin() + 32), (File{0xE8, 0x03, 0x00, 0x00}));
    if (type == kelPoint) {
      EXPECT_EQ(std::pair(shp.size(), shx.size()), std::pair(184ul, 124ul));
      file->getShapeObject(2)->get_Coordinates()->remove(2);
    }
    Shapefile back;
    ASSERT_TRUE(readFiles(back, want));
    EXPECT_EQ(back.get_ShapeType(), type);
    EXPECT_EQ(boxOf(back.get_BoundingBox()), boxOf(file->get_BoundingBox()));
    ASSERT_EQ(back.get_ShapeObjectCount(), 3);
    for (std::int16_t i = 1; i <= 3; ++i) {
      Ref<ShapeObject> read = back.getShapeObject(i), made = file->getShapeObject(i);
      EXPECT_EQ(coordsOf(read), coordsOf(made));
      EXPECT_EQ(partsOf(read), partsOf(made));
      // The writer computed the boxes it found zero and kept them; a Point record has none.
      EXPECT_EQ(boxOf(read->get_BoundingBox()), boxOf(made->get_BoundingBox()));
      EXPECT_EQ(fieldsOf(read->get_Record()), fieldsOf(made->get_Record()));
    }
  }
  // A box the caller set is kept however wrong, and the file's type picks the record's layout.
  TempDir dir;
  const Pts zigzag{{0, 0}, {1, 1}, {5, 5}, {6, 6}};
  auto kept = makeShape(kelMultiPoint, zigzag, {2});
  kept->get_BoundingBox()->setBoundingBox(0, 0, 5, 0);
  ASSERT_TRUE(writeTo(*makeFile(kelPolyLine, {kept}), dir));
  EXPECT_EQ(dir.read("out.shp"),
            shapefileOf(3, {shapeContent(3, zigzag, {0, 2}, {0, 0, 5, 0})}, {}, {0, 0, 6, 6}).shp);
}

// replaceShapefile writes the bytes of writeShapefile and makes the same changes to the model, in
// the old layer's place: the old .cpg and spatial index go, the .prj stays.
TEST(ReplaceShapefile, WritesTheBytesOfWriteShapefileInTheOldLayersPlace) {
  auto widthZero = [] {
    Ref<Shapefile> f = sampleModel(kelPoint);
    f->get_TableDescription()->getTableDescriptorByIndex(1)->put_width(0);
    return f;
  };
  const std::pair<const char*, std::function<Ref<Shapefile>()>> cases[] = {
      {"point", [] { return sampleModel(kelPoint); }},
      {"polyline with parts", [] { return sampleModel(kelPolyLine); }},
      {"multipoint", [] { return sampleModel(kelMultiPoint); }},
      {"C, N, D and L columns, one of width 0", widthZero}};
  auto stateOf = [](const Shapefile& f) {
    std::vector<std::pair<Box, Fields>> shapes;
    for (std::int16_t i = 1; i <= f.get_ShapeObjectCount(); ++i) {
      shapes.emplace_back(boxOf(f.getShapeObject(i)->get_BoundingBox()),
                          fieldsOf(f.getShapeObject(i)->get_Record()));
    }
    std::vector<int> widths;
    for (std::int16_t j = 1; j <= f.get_TableDescription()->get_DescriptorCount(); ++j) {
      widths.push_back(f.get_TableDescription()->getTableDescriptorByIndex(j)->get_width());
    }
    return std::tuple(boxOf(f.get_BoundingBox()), shapes, widths);
  };
  for (const auto& [what, make] : cases) {
    SCOPED_TRACE(what);
    TempDir dir;
    for (const char* old : {"roads.shp", "roads.shx", "roads.dbf", "roads.cpg", "roads.QIX"}) {
      dir.write(old, "old");
    }
    dir.write("roads.prj", "GEOGCS");
    Ref<Shapefile> plain = make(), replacing = make();
    ASSERT_TRUE(writeTo(*plain, dir, u"plain"));
    replaceShapefile(*replacing, dir.native("roads.SHP"));
    EXPECT_FALSE(replacing->lastFailure());
    EXPECT_EQ(stateOf(*replacing), stateOf(*plain));
    EXPECT_EQ(dir.read("roads.shp"), dir.read("plain.shp"));
    EXPECT_EQ(dir.read("roads.shx"), dir.read("plain.shx"));
    EXPECT_EQ(dir.read("roads.dbf"), withDateOf(dir.read("plain.dbf"), dir.read("roads.dbf")));
    std::vector<std::string> names;
    for (const auto& [name, bytes] : pictureOf(dir)) names.push_back(name);
    EXPECT_EQ(names, (std::vector<std::string>{"plain.dbf", "plain.shp", "plain.shx", "roads.dbf",
                                               "roads.prj", "roads.shp", "roads.shx"}));
    EXPECT_EQ(dir.read("roads.prj"), File({'G', 'E', 'O', 'G', 'C', 'S'}));
    Ref<Shapefile> back = readShapefileAt(dir.native("roads"));
    EXPECT_EQ(coordsOf(back->getShapeObject(3)), coordsOf(plain->getShapeObject(3)));
  }
}

// A path that names no shapefile is refused before any file is made, with its reason; a read of
// files that are not there names the missing one.
TEST(ReplaceShapefile, PathsThatNameNoShapefileAreRefused) {
  TempDir dir;
  using namespace std::string_literals;
  // The path, the error of the write and the error of the read.
  const std::tuple<std::string, std::int32_t, std::int32_t> cases[] = {
      {dir.native("roads\0.shp"s), 52, 52},
      {dir.native(""), 52, 52},
      {dir.native(".SHP"), 52, 52},
      {dir.str(), 75, 75},
      {dir.native("missing/roads"), 76, 53}};
  for (const auto& [named, write, read] : cases) {
    const std::string& path = named;  // a variable, which a lambda takes (clang 14)
    Ref<Shapefile> file = sampleModel(kelPoint);
    EXPECT_EQ(errorOf([&] { replaceShapefile(*file, path); }), write) << path;
    ASSERT_TRUE(file->lastFailure());
    EXPECT_EQ(file->lastFailure()->file.substr(0, dir.str().size()), dir.str());
    EXPECT_EQ(errorOf([&] { readShapefileAt(path); }), read) << path;
  }
  EXPECT_TRUE(pictureOf(dir).empty());
}

TEST(WriteShapefileExtents, HeaderCarriesTheFileBox) {
  // Cases: what, file type (a file of type 0 holds multipoints here), shapes, box set, box written.
  const std::tuple<const char*, std::int32_t, std::vector<Pts>, Box, Box> cases[] = {
      {"point rule", kelPoint, {{{2, 3}, {9, 9}}}, {}, {2, 3, 2, 3}},
      {"vertex rule", kelMultiPoint, {{{2, 3}, {9, 9}}}, {}, {2, 3, 9, 9}},
      {"an equal value keeps its bound", kelMultiPoint, {{{0, 0}, {-0.0, -0.0}}}, {}, {0, 0, 0, 0}},
      {"a later shape without vertices", kelPolyLine, {{{1, 1}, {3, 4}}, {}}, {}, {1, 1, 3, 4}},
      {"type 0 takes every vertex", kelUndefined, {{{1, 1}, {3, 4}}, {{-2, 0}}}, {}, {-2, 0, 3, 4}},
      {"negative zero is zero", kelPoint, {{{1, 2}}}, {-0.0, 0, -0.0, -0.0}, {1, 2, 1, 2}},
      {"the caller's box is kept", kelPoint, {{{7, 7}}}, {0, 0, 0, 5}, {0, 0, 0, 5}}};
  for (const auto& [what, type, points, preset, expected] : cases) {
    TempDir dir;
    std::vector<Ref<ShapeObject>> shapes;
    for (const Pts& p : points) shapes.push_back(makeShape(type ? type : 8, p));
    auto file = makeFile(type, shapes);
    file->get_BoundingBox()->setBoundingBox(preset[0], preset[1], preset[2], preset[3]);
    ASSERT_TRUE(writeTo(*file, dir)) << what;
    const File box =
        Bytes().f64(expected[0]).f64(expected[1]).f64(expected[2]).f64(expected[3]).vec();
    for (const File& written : {dir.read("out.shp"), dir.read("out.shx")}) {
      EXPECT_EQ(File(written.begin() + 36, written.begin() + 68), box) << what;
    }
    EXPECT_EQ(boxOf(file->get_BoundingBox()), expected) << what;
  }
}

// A shape whose box is unset gets, from the write, exactly the box its own computeExtents gives,
// to the bit, whether or not the file's extents are computed in the same write.
TEST(WriteShapefileExtents, UnsetShapeBoxesAreTheShapesOwnExtents) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::pair<std::int32_t, Pts>> shapes = {
      {kelPolyLine, {{5, 6}, {1, 9}, {3, -2}}},
      {kelPolyLine, {{nan, 1}, {-4, 0}, {8, nan}}},   // a NaN first stays in the box
      {kelPolyLine, {{0, -0.0}, {-0.0, 0}, {0, 0}}},  // an equal value keeps its bound
      {kelPoint,
       {{2, 2}, {7, 7}}},  // a shape that calls itself a point is boxed by its first vertex
      {kelPolyLine, {}}};
  auto bitsOf = [](const Ref<BoundingBox>& b) {
    return std::bit_cast<std::array<std::uint64_t, 4>>(boxOf(b));
  };
  for (bool fileBoxSet : {false, true}) {
    SCOPED_TRACE(fileBoxSet);
    std::vector<Ref<ShapeObject>> written;
    for (const auto& [type, pts] : shapes) written.push_back(makeShape(type, pts));
    written.push_back(written[1]);  // the same shape twice
    auto file = makeFile(kelPolyLine, written);
    if (fileBoxSet) file->get_BoundingBox()->setBoundingBox(0, 0, 1, 1);
    TempDir dir;
    ASSERT_TRUE(writeTo(*file, dir));
    for (std::size_t i = 0; i < shapes.size(); ++i) {
      auto alone = makeShape(shapes[i].first, shapes[i].second);
      alone->computeExtents();
      EXPECT_EQ(bitsOf(written[i]->get_BoundingBox()), bitsOf(alone->get_BoundingBox())) << i;
    }
  }
}

TEST(WriteShapefileDriver, OldFilesOfEveryLetterCaseAreDeletedFirst) {
  TempDir dir;
  auto entries = [&] {  // so that no file of another letter case is left unseen
    auto all = std::filesystem::directory_iterator(dir.str());
    return std::distance(begin(all), end(all));
  };
  for (const char* name : {"roads.shp", "ROADS.SHP", "Roads.shx", "roads.dbf", ".shp", ".dbf"}) {
    dir.write(name, File(3000, 'X'));
  }
  std::u16string base = dir.u16(), name = u"Roads.SHP";
  ASSERT_TRUE(sampleModel(kelPoint)->writeShapefile(base, name));
  EXPECT_EQ(base + u"|" + name, dir.u16() + u"\\|Roads");
  // An empty name makes ".shp" and friends: hidden, so the look-up never deletes them; they are
  // emptied instead, or old bytes would trail the new end.
  ASSERT_TRUE(writeTo(*sampleModel(kelPoint), dir, u""));
  EXPECT_EQ(entries(), 6);
  EXPECT_EQ(dir.read(".shp"), dir.read("Roads.shp"));
  // A polyline file fails on a first shape without vertices, and a point file on any such shape;
  // the old files are gone all the same.
  for (auto [type, empty] : {std::pair{kelPolyLine, 0}, std::pair{kelPoint, 1}}) {
    std::vector<Ref<ShapeObject>> shapes{makeShape(type, {{1, 1}}), makeShape(type, {{2, 2}})};
    shapes[empty] = makeShape(type, {});
    EXPECT_FALSE(writeTo(*makeFile(type, shapes), dir, u"ROADS"));
    EXPECT_EQ(entries(), 6);
    for (const char* name : {"ROADS.shp", "ROADS.shx", "ROADS.dbf"})
      EXPECT_TRUE(dir.read(name).empty());
  }
}

// A record that fails once its counts are known leaves its index entry, its header and its
// contents up to the part start or vertex that is no number, the vertices before that one in whole
// runs of 256: a prefix of what the same shapes write when nothing fails.
TEST(WriteShapefileDriver, ARecordThatFailsPartWayLeavesItsBytesUpToTheFailure) {
  // The file's type, the 1-based vertex (or part start, negative) that is text, and how many bytes
  // of the failing second record stay.
  const std::tuple<std::int32_t, int, std::size_t> cases[] = {
      {kelMultiPoint, 256, 8 + 40},
      {kelMultiPoint, 300, 8 + 40 + 256 * 16},
      {kelPolyLine, -2, 8 + 44 + 4},
      {kelPolygon, 600, 8 + 52 + 512 * 16}};
  for (const auto& [type, at, kept] : cases) {
    SCOPED_TRACE(at);
    TempDir dir;
    Pts points;
    for (int i = 0; i < 600; ++i) points.push_back({1.0 * i, 2});
    Ref<ShapeObject> shapes[] = {makeShape(type, {{5, 5}}), makeShape(type, points, {300})};
    auto file = makeFile(type, {shapes[0], shapes[1]});
    file->get_BoundingBox()->setBoundingBox(0, 0, 1, 1);  // no walk of the vertices before
    for (const auto& shape : shapes) shape->get_BoundingBox()->setBoundingBox(0, 0, 1, 1);
    ASSERT_TRUE(writeTo(*file, dir, u"whole"));
    Ref<Collection> list = at > 0 ? shapes[1]->get_Coordinates() : shapes[1]->get_Parts();
    auto broken = makeRef<Collection>();
    for (std::int32_t i = 1; i <= list->count(); ++i) {
      broken->add(i == std::abs(at) ? Variant(u"x") : list->item(i));
    }
    at > 0 ? shapes[1]->putref_Coordinates(broken) : shapes[1]->putref_Parts(broken);
    EXPECT_FALSE(writeTo(*file, dir, u"failed"));
    File whole = dir.read("whole.shp"), failed = dir.read("failed.shp");
    std::size_t first = 100 + 8 + (type == kelMultiPoint ? 56 : 64);
    EXPECT_EQ(failed, File(whole.begin(), whole.begin() + first + kept));
    EXPECT_EQ(dir.read("failed.shx"), dir.read("whole.shx"));
  }
}

TEST(WriteShapefileDriver, SixteenBitCountersBoundTheWrite) {
  // 32766 shapes, or vertices in one shape, are the most that a 16-bit loop counter lets through.
  for (int n : {32766, 32767}) {
    TempDir dir;
    Pts points;
    std::vector<Ref<ShapeObject>> shapes;
    for (int i = 0; i < n; ++i) {
      points.push_back({1.0 * i, 2});
      shapes.push_back(makeShape(kelPoint, {points.back()}));
    }
    auto longShape = [&] { return makeFile(kelMultiPoint, {makeShape(kelMultiPoint, points)}); };
    EXPECT_EQ(writeTo(*makeFile(kelPoint, shapes), dir, u"many"), n == 32766) << n;
    // Every walk of the long shape's vertices counts: the walk for the file's extents, before
    // any header is written; the shape's own when only the file's box is set; the record
    // writer's when both are.
    auto unset = longShape();
    EXPECT_EQ(writeTo(*unset, dir, u"unset"), n == 32766) << n;
    EXPECT_EQ(dir.read("unset.shp").empty(), n == 32767) << n;
    auto fileBox = longShape();
    fileBox->get_BoundingBox()->setBoundingBox(0, 0, 1, 1);
    EXPECT_EQ(writeTo(*fileBox, dir, u"filebox"), n == 32766) << n;
    auto bothBoxes = longShape();
    bothBoxes->get_BoundingBox()->setBoundingBox(0, 0, 1, 1);
    bothBoxes->getShapeObject(1)->get_BoundingBox()->setBoundingBox(0, 0, 1, 1);
    EXPECT_EQ(writeTo(*bothBoxes, dir, u"both"), n == 32766) << n;
  }
}

TEST(WriteShapefileDriver, FailuresReportFalseAndLeakNoDescriptors) {
  TempDir dir;
  auto refused = sampleModel(kelPoint);  // refused once every file is open
  refused->getShapeObject(1)->get_Record()->setField(u"NAME", u"\u4E2D");
  // Neither a NUL character, which ends a path in the system's calls, nor a symbolic link where a
  // file is to be made, dangling or hidden from the look-up, may steer the write to another file.
  dir.write("victim.txt", "keep");
  std::filesystem::create_symlink(dir.native("elsewhere"), dir.native("link.shp"));
  std::filesystem::create_symlink(dir.native("victim.txt"), dir.native(".shx"));
  const std::u16string d = dir.u16();
  using namespace std::string_literals;
  // Root may write wherever only permissions guard, so /proc refuses root as well. Each case
  // ends with what the reason of the failure says: the end of the file's name and the step.
  const std::tuple<std::u16string, std::u16string, Ref<Shapefile>, const char*> cases[] = {
      {d + u"/missing/", u"kelwr", sampleModel(kelPoint), "/kelwr.shp: cannot be opened"},
      {u"/proc/", u"kelwr", sampleModel(kelPoint), "/kelwr.shp: cannot be opened"},
      {d, u"kelwr", refused, "/kelwr.dbf: the table cannot be written"},
      {d, u"victim.txt\0"s, sampleModel(kelPoint), ".shp: the files cannot be looked up"},
      {d + u"\\victim.txt\0"s, u"x", sampleModel(kelPoint), ".shp: the files cannot be looked up"},
      {d, u"link", sampleModel(kelPoint), "/link.shp: cannot be opened"},
      {d, u"", sampleModel(kelPoint), "/.shx: cannot be opened"}};
  long before = openFds();
  for (const auto& [base, name, file, why] : cases) {
    EXPECT_FALSE(file->writeShapefile(base, name)) << toUtf8(base + u"|" + name);
    ASSERT_TRUE(file->lastFailure());
    EXPECT_NE(format::describe(*file->lastFailure()).find(why), std::string::npos)
        << format::describe(*file->lastFailure());
  }
  EXPECT_EQ(openFds(), before);
  EXPECT_FALSE(std::filesystem::exists(dir.native("missing")));
  EXPECT_FALSE(std::filesystem::exists(dir.native("elsewhere")));
  EXPECT_EQ(dir.read("victim.txt"), File({'k', 'e', 'e', 'p'}));
}

TEST(WriteShapefileDriver, FullDiskReportsFalse) {
  // 5000 points overflow the channel's buffer mid-write; 20 fail only when the files are closed.
  // replaceShapefile raises "disk full" instead, and leaves the old layer as it was.
  for (int count : {20, 5000}) {
    for (bool replace : {false, true}) {
      TempDir dir;
      writeSet(dir, sampleFiles(kelPoint), "out");
      const DirectoryPicture old = pictureOf(dir);
      const int status = exitOfChild([&] {
        diskFullAt(200);
        std::vector<Ref<ShapeObject>> shapes;
        for (int i = 0; i < count; ++i) shapes.push_back(makeShape(kelPoint, {{1.0 * i, 2}}));
        Ref<Shapefile> file = makeFile(kelPoint, shapes);
        if (!replace) return writeTo(*file, dir) ? 1 : 0;
        return errorOf([&] { replaceShapefile(*file, dir.native("out")); }) == 61 ? 0 : 1;
      });
      EXPECT_EQ(status, 0) << count << " points written on a full disk";
      if (replace) {
        EXPECT_EQ(pictureOf(dir), old) << count;
      }
    }
  }
}
