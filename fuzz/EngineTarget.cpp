// The engine's fuzz target: any file set through the format layer's readers, every record, row and
// value visited, each shape encoded again and decoded to the same view.
#include <cstring>
#include <exception>

#include "kel/format/Layer.h"
#include "kel/format/Selection.h"
#include "fuzz/FileSetFraming.h"
#include "fuzz/Scratch.h"
#include "fuzz/Targets.h"
#include "kel/geojson/Geometry.h"
#include "support/ShapefileFixtures.h"

namespace kel::fuzz {

namespace {

// Checks that every finding says where and what.
class CheckingReporter final : public format::Reporter {
 public:
  void report(const format::Finding& f) override {
    if (f.file.empty() || f.sentence.empty()) broken = "a finding without its file or sentence";
    if (f.severity == format::Severity::Error) ++errors;
  }
  std::string broken;
  int errors = 0;
};

template <class T>
bool sameBits(std::span<const T> a, std::span<const T> b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size_bytes()) == 0);
}

// What a view must be whatever the bytes were: parts that divide its points, arrays that fit.
std::string misshapen(const format::ShapeView& v) {
  std::optional<format::ShapeTypeTraits> t = format::traitsOf(static_cast<std::int32_t>(v.type));
  if (!t) return "a view of no type";
  std::size_t n = v.points.size();
  for (std::size_t k = 0; k < v.parts.size(); ++k) {
    auto start = static_cast<std::size_t>(v.parts[k]);
    if (v.parts[k] < 0 || start >= n || (k > 0 && v.parts[k] <= v.parts[k - 1])) {
      return "part starts that do not divide the points";
    }
  }
  if (t->geometry == format::Geometry::MultiPatch && v.partTypes.size() != v.parts.size()) {
    return "a patch without a type for each part";
  }
  if ((t->z && v.z.size() != n) || (!v.m.empty() && v.m.size() != n)) return "Z or M misfit";
  return "";
}

// The view encoded and decoded again must be the same view; a Point type's missing M comes back
// as "no measure".
std::string roundTrip(const format::ShapeView& v) {
  std::vector<unsigned char> bytes;
  format::encodeShape(v, bytes);
  if (bytes.size() != format::encodedSize(v)) return "encodedSize disagrees with encodeShape";
  format::ShapeBuffer buffer;
  format::ShapeView w;
  if (std::optional<format::CodecError> e = format::decodeShape(bytes, buffer, w)) {
    return "what the codec wrote it cannot read: " + e->sentence;
  }
  bool sameM =
      v.m.empty() ? (w.m.empty() || w.m[0] < format::kNoMeasureBelow) : sameBits<double>(v.m, w.m);
  if (w.type != v.type || !sameBits<std::int32_t>(v.parts, w.parts) ||
      !sameBits<std::int32_t>(v.partTypes, w.partTypes) ||
      !sameBits<format::XY>(v.points, w.points) || !sameBits<double>(v.z, w.z) || !sameM) {
    return "the codec does not give back what it read";
  }
  return "";
}

volatile std::size_t valueSink = 0;

}  // namespace

std::string checkEngine(std::string_view input) {
  try {
    const Scratch& scratch = Scratch::instance();
    FileSetBytes files = splitFileSet(input);
    scratch.write("e.shp", files.shp);
    scratch.write("e.shx", files.shx);
    scratch.write("e.dbf", files.dbf);
    long fds = openDescriptors();
    CheckingReporter reporter;
    {
      std::unique_ptr<format::Layer> layer = format::Layer::open(scratch.native("e.shp"), reporter);
      if (!layer) return reporter.errors > 0 ? reporter.broken : "refused without a reason";
      format::ShapeView view;
      for (std::int64_t i = 0; i < layer->count(); ++i) {
        int before = reporter.errors;
        if (!layer->shapes().read(i, view)) {
          if (reporter.errors == before) return "a record refused without a reason";
          continue;
        }
        for (const std::string& broken : {misshapen(view), roundTrip(view)}) {
          if (!broken.empty()) return "record " + std::to_string(i) + ": " + broken;
        }
        geojson::Geometry g = geojson::geometryOf(view);
        valueSink = valueSink + g.lines.size() + g.polygons.size();
      }
      // A box over the middle of the header's extent: records chosen by their own boxes, and
      // where those are in doubt by their shapes.
      const format::MainHeader& h = layer->shapes().header();
      format::Selection selection;
      selection.box = format::Box{h.xMin * .75 + h.xMax * .25, h.yMin * .75 + h.yMax * .25,
                                  h.xMin * .25 + h.xMax * .75, h.yMin * .25 + h.yMax * .75};
      if (selection.box->xMin <= selection.box->xMax && selection.box->yMin <= selection.box->yMax) {
        format::SelectedRecords records(*layer, selection);
        while (records.next()) valueSink = valueSink + records.shape().points.size();
      }
      if (format::TableReader* table = layer->table()) {
        for (std::int64_t i = 0; i < table->count(); ++i) {
          format::RowView row = table->read(i);
          for (std::size_t c = 0; c < table->columns().size(); ++c) {
            valueSink = valueSink + table->value(row, c).index();
          }
        }
      }
    }
    if (openDescriptors() != fds) return "the layer left a descriptor open";
    return reporter.broken;
  } catch (const std::exception& e) {
    return std::string("raised to the caller: ") + e.what();
  }
}

std::vector<Seed> engineSeeds() {
  std::vector<Seed> seeds = readSeeds();
  // A file of each of the fourteen types, two shapes with two parts, Z and M where they go.
  const std::vector<format::XY> points = {{1, 2}, {3, 4}, {5, 6}, {7, 8}};
  const std::vector<double> values = {1, 2, -1e39, 4};
  const std::vector<std::int32_t> parts = {0, 2}, partTypes = {0, 5};
  for (format::ShapeType type : format::kShapeTypes) {
    const auto code = static_cast<std::int32_t>(type);
    format::ShapeTypeTraits t = *format::traitsOf(code);
    format::ShapeView v;
    v.type = type;
    if (t.geometry != format::Geometry::Null) {
      std::size_t n = t.geometry == format::Geometry::Point ? 1 : points.size();
      v.points = std::span(points).first(n);
      if (t.z) v.z = std::span(values).first(n);
      if (t.m) v.m = std::span(values).first(n);
      bool poly = t.geometry == format::Geometry::PolyLine ||
                  t.geometry == format::Geometry::Polygon ||
                  t.geometry == format::Geometry::MultiPatch;
      if (poly) v.parts = parts;
      if (t.geometry == format::Geometry::MultiPatch) v.partTypes = partTypes;
    }
    std::vector<testing::Bytes> contents(2);
    for (testing::Bytes& c : contents) {
      std::vector<unsigned char> bytes;
      format::encodeShape(v, bytes);
      c.append(bytes);
    }
    testing::ShapefileFiles f = testing::shapefileOf(code, contents, testing::dbfFile(2));
    seeds.emplace_back("type-" + std::to_string(code),
                       joinFileSet({reinterpret_cast<const char*>(f.shp.data()), f.shp.size()},
                                   {reinterpret_cast<const char*>(f.shx.data()), f.shx.size()},
                                   {reinterpret_cast<const char*>(f.dbf.data()), f.dbf.size()}));
  }
  return seeds;
}

}  // namespace kel::fuzz
