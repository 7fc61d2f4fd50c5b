#include <charconv>
#include <stdexcept>
#include <vector>

#include "Contender.h"
#include "kel/format/LayerWriter.h"

namespace kelbench {

namespace {

namespace fmt = kel::format;

// The workload through the format engine's streaming writer: each shape's vertices and part
// starts as they are, its values typed from the workload's text (the number parsed, the date
// split), as a caller with text in hand would do.
void write(const Workload& w, const std::string& dir, const std::string& stem) {
  std::vector<fmt::ColumnDefinition> columns;
  for (const Column& c : kColumns) {
    columns.push_back({c.name, c.type, static_cast<std::uint8_t>(c.width),
                       static_cast<std::uint8_t>(c.decimals)});
  }
  auto type = static_cast<fmt::ShapeType>(w.shapeType);
  bool poly = w.shapeType == 3 || w.shapeType == 5;
  fmt::LayerWriter writer(dir + "/" + stem + ".shp", type, columns);
  std::vector<fmt::XY> points;
  std::vector<fmt::Value> row(3);
  for (std::size_t i = 0; i < w.shapes.size(); ++i) {
    const Shape& s = w.shapes[i];
    points.resize(s.xy.size() / 2);
    for (std::size_t v = 0; v < points.size(); ++v) points[v] = {s.xy[2 * v], s.xy[2 * v + 1]};
    fmt::ShapeView view;
    view.type = type;
    view.points = points;
    if (poly) view.parts = s.parts;
    const Row& r = w.rows[i];
    double value = 0;
    std::from_chars(r.value.data(), r.value.data() + r.value.size(), value);
    int day = 0;
    std::from_chars(r.day.data(), r.day.data() + r.day.size(), day);
    row[0] = r.name;
    row[1] = value;
    row[2] = fmt::Date{day / 10000, day / 100 % 100, day % 100};
    writer.add(view, row);
  }
  writer.close();
}

}  // namespace

const Writer kEngineWriter{"engine", write};

}  // namespace kelbench
