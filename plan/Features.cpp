#include "kel/plan/Features.h"

#include <string_view>

#include "kel/format/ShapeType.h"

namespace kel::plan {

namespace {

constexpr const char* kNames[] = {
    "", "Point", "MultiPoint", "LineString", "MultiLineString", "Polygon", "MultiPolygon"};

// Appends the value, or `missing` for a position without it; the positions before the first
// that has one get `missing` too.
void addOptional(std::vector<double>& values, std::size_t before, std::optional<double> value,
                 double missing) {
  if (value && values.size() < before) values.assign(before, missing);
  if (value || !values.empty()) values.push_back(value.value_or(missing));
}

}  // namespace

void Geometry::clear() {
  kind = GeometryKind::None;
  x.clear();
  y.clear();
  z.clear();
  m.clear();
  parts.clear();
  firstRings.clear();
}

void Geometry::startLine() {
  parts.push_back(static_cast<std::int32_t>(x.size()));
}

void Geometry::startRing(bool first) {
  startLine();
  firstRings.push_back(first ? 1 : 0);
}

void Geometry::add(double px, double py, std::optional<double> pz, std::optional<double> pm) {
  std::size_t before = x.size();
  addOptional(z, before, pz, 0.0);
  addOptional(m, before, pm, format::kNoMeasure);
  x.push_back(px);
  y.push_back(py);
}

std::optional<GeometryKind> geometryKindNamed(std::string_view name) {
  for (std::size_t k = 1; k < std::size(kNames); ++k) {
    if (name == kNames[k]) return static_cast<GeometryKind>(k);
  }
  return std::nullopt;
}

const char* nameOf(GeometryKind kind) {
  return kNames[static_cast<std::size_t>(kind)];
}

}  // namespace kel::plan
