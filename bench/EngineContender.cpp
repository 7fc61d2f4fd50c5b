#include <stdexcept>
#include <variant>

#include "Contender.h"
#include "kel/format/Layer.h"

namespace kelbench {

namespace {

namespace fmt = kel::format;

// Adds a value to the digest as the other walks do: numbers and dates (as YYYYMMDD) to the sum,
// text by its length.
struct ValueSum {
  Digest& d;
  void operator()(fmt::Null) const {}
  void operator()(std::int64_t i) const { d.numberSum += static_cast<double>(i); }
  void operator()(double x) const { d.numberSum += x; }
  void operator()(bool b) const { d.numberSum += b; }
  void operator()(const fmt::Date& t) const {
    d.numberSum += t.year * 10000 + t.month * 100 + t.day;
  }
  void operator()(const std::string& s) const { d.textBytes += static_cast<long>(s.size()); }
  void operator()(const fmt::RawBytes& r) const {
    d.textBytes += static_cast<long>(r.bytes.size());
  }
};

// Keeps the first error, which ends the walk; notes and irregularities cost nothing.
class Failure final : public fmt::Reporter {
 public:
  void report(const fmt::Finding& f) override {
    if (f.severity == fmt::Severity::Error && sentence.empty()) sentence = fmt::describe(f);
  }
  std::string sentence;
};

Digest walk(const std::string& dir, const std::string& stem) {
  Digest d;
  Failure failure;
  std::unique_ptr<fmt::Layer> layer = fmt::Layer::open(dir + "/" + stem + ".shp", failure);
  if (!layer || !layer->table())
    throw std::runtime_error("engine open failed: " + failure.sentence);
  fmt::TableReader& table = *layer->table();
  const std::size_t columns = table.columns().size();
  fmt::ShapeView v;
  for (std::int64_t i = 0, n = layer->count(); i < n; ++i) {
    if (!layer->shapes().read(i, v)) throw std::runtime_error("engine read failed");
    ++d.shapes;
    d.typeCodes += static_cast<long>(v.type);
    d.boxSum += v.box.xMin + v.box.yMin + v.box.xMax + v.box.yMax;
    for (std::int32_t start : v.parts) d.partStarts += start;
    for (const fmt::XY& p : v.points) d.coordinateBits += bitsOf(p.x) + bitsOf(p.y);
    for (double z : v.z) d.coordinateBits += bitsOf(z);
    for (double m : v.m) d.coordinateBits += bitsOf(m);
    d.vertices += static_cast<long>(v.points.size());
    fmt::RowView row = table.read(i);
    for (std::size_t c = 0; c < columns; ++c) {
      std::visit(ValueSum{d}, table.value(row, c));
    }
  }
  return d;
}

}  // namespace

const Walker kEngineWalk{"engine", walk};

}  // namespace kelbench
