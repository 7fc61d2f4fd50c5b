// The work a selection does: records that their own box leaves out are not decoded, nor are those
// that it keeps whole, and a filter decodes only the values it reads. (Which records a box or a
// filter keeps is held against GDAL in tests/python/test_selection.py.)

#include "kel/format/Selection.h"

#include <gtest/gtest.h>

#include "support/EngineWriting.h"

using namespace kel::testing;

namespace {

EngineRecord shape(fmt::ShapeType type, std::vector<fmt::XY> points, std::int64_t a) {
  EngineRecord r;
  r.type = type;
  r.parts = {0};
  r.points = std::move(points);
  r.row = {a, std::string("b"), std::string("c")};
  return r;
}

const std::vector<fmt::ColumnDefinition> kColumns = {{"A", 'N', 4}, {"B", 'C', 2}, {"C", 'C', 2}};

}  // namespace

TEST(SelectionTest, DecodesOnlyWhatItsBoxesLeaveInDoubt) {
  TempDir dir;
  const auto polygon = fmt::ShapeType::Polygon, line = fmt::ShapeType::PolyLine;
  EngineRecord none;
  none.row = {std::int64_t{0}, std::string(), std::string()};
  // Two squares, a triangle below the line from (20, 0) to (30, 10), a null shape; a line.
  writeLayer(dir.native("p.shp"), polygon,
             {shape(polygon, {{0, 0}, {0, 5}, {5, 5}, {5, 0}, {0, 0}}, 1),
              shape(polygon, {{10, 0}, {10, 5}, {15, 5}, {15, 0}, {10, 0}}, 2),
              shape(polygon, {{20, 0}, {30, 10}, {30, 0}, {20, 0}}, 3), none},
             {}, kColumns);
  writeLayer(dir.native("l.shp"), line, {shape(line, {{0, 20}, {10, 30}}, 1)}, {}, kColumns);
  struct Case {
    const char* layer;
    fmt::Box box;
    std::vector<std::int64_t> kept;
    std::int64_t decoded;  // records decoded to test their shapes
  };
  const Case cases[] = {
      {"p", {-1, -1, 16, 6}, {0, 1}, 0},      // both squares inside the box
      {"p", {3, 3, 12, 4}, {0, 1}, 2},        // across both
      {"p", {21, 8, 22, 9}, {}, 1},           // in the triangle's box, above the triangle
      {"p", {29, 1, 40, 2}, {2}, 1},          // across the triangle's corner
      {"p", {-1e9, -1e9, 1e9, 1e9}, {0, 1, 2}, 0},  // everything but the null shape
      {"p", {100, 100, 200, 200}, {}, 0},
      {"l", {8, 22, 9, 23}, {}, 1},           // in the line's box, beside the line
      {"l", {4, 23, 6, 25}, {0}, 1},          // across the line
      {"l", {10, 30, 11, 31}, {0}, 1},        // on its end
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.layer) + " " + std::to_string(c.box.xMin));
    fmt::CollectingReporter reporter;
    auto layer = fmt::Layer::open(dir.native(c.layer), reporter);
    ASSERT_TRUE(layer);
    fmt::Selection s;
    s.box = c.box;
    s.skipGeometry = true;
    fmt::SelectedRecords records(*layer, s);
    std::vector<std::int64_t> kept;
    while (records.next()) kept.push_back(records.index());
    EXPECT_EQ(kept, c.kept);
    EXPECT_EQ(layer->shapes().decoded(), c.decoded);
    EXPECT_EQ(layer->table()->decoded(), 0);
  }

  // The filter decodes its one column of every row, the rows' other columns none; the geometry
  // is decoded for the records kept.
  fmt::CollectingReporter reporter;
  auto layer = fmt::Layer::open(dir.native("p"), reporter);
  fmt::Selection s;
  s.where = "a >= 2";
  s.columns = {"c", "A"};
  fmt::SelectedRecords records(*layer, s);
  EXPECT_EQ(records.columns(), (std::vector<std::size_t>{2, 0}));
  int kept = 0;
  while (records.next()) kept += records.index() >= 1 && records.index() <= 2;
  EXPECT_EQ(kept, 2);
  EXPECT_EQ(layer->table()->decoded(), 4);
  EXPECT_EQ(layer->shapes().decoded(), 2);
}
