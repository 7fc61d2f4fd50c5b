// Ours must read in ogrinfo, shpdump and dbfdump as we wrote them, and read and written back by
// us they must come out as they were. Files that the peers write are in Corpus_test.cpp.

#include <gtest/gtest.h>

#include <regex>

#include "support/PeerTools.h"

using namespace kel;
using namespace kel::testing;

// Coordinates are compared exactly; the boxes and the columns, read as they lie, are checked by
// writing the files back.
static void expectReadExactlyAndWrittenBack(const TempDir& dir, const std::string& stem) {
  SCOPED_TRACE(stem);
  auto file = makeRef<Shapefile>();
  EXPECT_TRUE(file->readShapefile(dir.u16(), toUtf16(stem)));
  std::vector<PeerShape> peer = shpdump(dir.native(stem + ".shp"));
  EXPECT_EQ(file->get_ShapeType(), peer.at(0).type);
  EXPECT_EQ(file->get_ShapeObjectCount() + 1, static_cast<int>(peer.size()));
  for (std::int16_t i = 1; i <= file->get_ShapeObjectCount() && i < int(peer.size()); ++i) {
    Ref<ShapeObject> shape = file->getShapeObject(i);
    EXPECT_EQ(shape->get_ShapeType(), peer[i].type);
    // Every shape of ours starts a part at 0, points and multipoints included.
    EXPECT_EQ(partsOf(shape), peer[i].parts.empty() ? Starts{0} : peer[i].parts);
    EXPECT_EQ(coordsOf(shape), peer[i].points);
  }
  auto rows = rawTable(dir.read(stem + ".dbf"));
  for (std::int16_t r = 1; r <= file->get_ShapeObjectCount() && r <= int(rows.size()); ++r) {
    std::vector<std::string> values;
    for (const auto& [name, value] : fieldsOf(file->getShapeObject(r)->get_Record())) {
      values.emplace_back();
      for (char16_t c : value) values.back() += static_cast<char>(ansiCodeOf(c));
    }
    EXPECT_EQ(values, rows[r - 1]);
  }
  expectWrittenBackAsItWas(*file, dir, stem);
}

TEST(PeerFilesTest, GdalAndShapelibReadWhatWeWrite) {
  for (std::int32_t type : {kelPoint, kelPolyLine, kelPolygon, kelMultiPoint}) {
    TempDir dir;
    ASSERT_TRUE(writeTo(*sampleModel(type), dir, u"peer"));
    // GDAL reads every feature and its date without a warning; shpdump sees every vertex and
    // dbfdump every value.
    std::string ogr = run("ogrinfo -al -q " + quote(dir.native("peer.shp")) + " 2>&1"), born;
    EXPECT_FALSE(std::regex_search(ogr, std::regex("ERROR|Warning"))) << ogr;
    std::regex date("BORN \\(Date\\) = (.*)");
    for (std::sregex_iterator m(ogr.begin(), ogr.end(), date), end; m != end; ++m) {
      born += (*m)[1].str() + " ";
    }
    EXPECT_EQ(born, "2026/03/05 1999/12/31 2000/02/29 ");
    expectReadExactlyAndWrittenBack(dir, "peer");
    auto values = rawTable(dir.read("peer.dbf"));
    for (auto& row : values) std::transform(row.begin(), row.end(), row.begin(), trim);
    EXPECT_EQ(dbfdump(dir.native("peer.dbf")), values);
  }
}
