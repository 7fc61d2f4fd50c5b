#include "kel/format/Selection.h"

#include <algorithm>

#include "kel/format/SpatialIndex.h"

namespace kel::format {

namespace {

// Whether the segment from a to b meets the box, its border included (Liang and Barsky's
// clipping of the segment's parameter to the four sides).
bool segmentMeets(XY a, XY b, const Box& box) {
  double t0 = 0, t1 = 1;
  auto clip = [&](double p, double q) {  // keeps the t where p * t <= q
    if (p == 0) return q >= 0;
    double t = q / p;
    if (p < 0) {
      if (t > t1) return false;
      t0 = std::max(t0, t);
    } else {
      if (t < t0) return false;
      t1 = std::min(t1, t);
    }
    return true;
  };
  const double dx = b.x - a.x, dy = b.y - a.y;
  return clip(-dx, a.x - box.xMin) && clip(dx, box.xMax - a.x) && clip(-dy, a.y - box.yMin) &&
         clip(dy, box.yMax - a.y);
}

// Runs of points: each a line, or a ring that closes on its first point.
struct Runs {
  std::span<const XY> points;
  std::vector<std::pair<std::size_t, std::size_t>> spans;  // [begin, end)
};

// Whether a line or a ring's edge meets the box, or, for rings, the box lies inside them (its
// corner inside by the even-odd rule, which no edge then reaches).
bool runsMeet(const Runs& runs, const Box& box, bool rings) {
  const XY corner{box.xMin, box.yMin};
  bool inside = false;
  for (auto [begin, end] : runs.spans) {
    if (begin >= end) continue;
    for (std::size_t k = begin; k < end; ++k) {
      XY a = runs.points[k];
      XY b = k + 1 < end ? runs.points[k + 1] : rings ? runs.points[begin] : a;
      if (segmentMeets(a, b, box)) return true;
      if (rings && (a.y > corner.y) != (b.y > corner.y) &&
          corner.x < (b.x - a.x) * (corner.y - a.y) / (b.y - a.y) + a.x) {
        inside = !inside;
      }
    }
  }
  return inside;
}

Runs partsOf(const ShapeView& shape) {
  Runs runs{shape.points, {}};
  const std::size_t n = shape.points.size();
  for (std::size_t k = 0; k < shape.parts.size(); ++k) {
    std::size_t end = k + 1 < shape.parts.size() ? static_cast<std::size_t>(shape.parts[k + 1]) : n;
    runs.spans.emplace_back(static_cast<std::size_t>(shape.parts[k]), std::min(end, n));
  }
  if (shape.parts.empty()) runs.spans.emplace_back(0, n);
  return runs;
}

// A MultiPatch: its triangles one by one, its rings together.
bool patchesMeet(const ShapeView& shape, const Box& box) {
  Runs all = partsOf(shape), rings{shape.points, {}};
  std::vector<XY> triangle(3);
  for (std::size_t k = 0; k < all.spans.size(); ++k) {
    auto [begin, end] = all.spans[k];
    auto type = k < shape.partTypes.size() ? static_cast<PartType>(shape.partTypes[k])
                                           : PartType::Ring;
    if (type != PartType::TriangleStrip && type != PartType::TriangleFan) {
      rings.spans.emplace_back(begin, end);
      continue;
    }
    for (std::size_t i = begin; i + 2 < end; ++i) {
      triangle = {shape.points[type == PartType::TriangleFan ? begin : i], shape.points[i + 1],
                  shape.points[i + 2]};
      if (runsMeet({triangle, {{0, 3}}}, box, true)) return true;
    }
  }
  return runsMeet(rings, box, true);
}

}  // namespace

bool meets(const ShapeView& shape, const Box& box) {
  if (shape.points.empty()) return false;
  switch (traitsOf(static_cast<std::int32_t>(shape.type))->geometry) {
    case Geometry::Null:
      return false;
    case Geometry::Point:
    case Geometry::MultiPoint:
      return std::any_of(shape.points.begin(), shape.points.end(), [&](const XY& p) {
        return p.x >= box.xMin && p.x <= box.xMax && p.y >= box.yMin && p.y <= box.yMax;
      });
    case Geometry::PolyLine:
      return runsMeet(partsOf(shape), box, false);
    case Geometry::Polygon:
      return runsMeet(partsOf(shape), box, true);
    case Geometry::MultiPatch:
      return patchesMeet(shape, box);
  }
  return false;
}

SelectedRecords::SelectedRecords(Layer& layer, const Selection& selection)
    : layer_(layer), box_(selection.box), skipGeometry_(selection.skipGeometry) {
  if (box_ && !(box_->xMin <= box_->xMax && box_->yMin <= box_->yMax)) {
    throw SelectionError("the box's minimum lies above its maximum, or is no number");
  }
  static const std::vector<Column> kNone;
  const std::vector<Column>& columns = layer.table() ? layer.table()->columns() : kNone;
  if (selection.columns) {
    for (const std::string& name : *selection.columns) {
      std::optional<std::size_t> c = findColumn(columns, name);
      if (!c) throw SelectionError("there is no column " + name);
      if (std::find(columns_.begin(), columns_.end(), *c) == columns_.end()) {
        columns_.push_back(*c);
      }
    }
  } else {
    for (std::size_t c = 0; c < columns.size(); ++c) columns_.push_back(c);
  }
  if (!selection.where.empty()) {
    filter_ = Filter::parse(selection.where, columns);
    values_.resize(columns.size());
  }
  const std::int64_t n = layer.count();
  next_ = std::clamp<std::int64_t>(selection.start, 0, n);
  stop_ = std::clamp<std::int64_t>(selection.stop.value_or(n), next_, n);
}

bool SelectedRecords::next() {
  // The index is read on the first call, so that a cursor made only for its columns reads none.
  if (box_ && !indexLooked_ && next_ < stop_) {
    indexLooked_ = true;
    candidates_ = indexedCandidates(layer_, *box_, layer_.shapes().reporter());
    if (candidates_) {
      nextCandidate_ = static_cast<std::size_t>(
          std::lower_bound(candidates_->begin(), candidates_->end(), next_) - candidates_->begin());
    }
  }
  for (;;) {
    std::int64_t i;
    if (candidates_) {
      if (nextCandidate_ == candidates_->size() || (*candidates_)[nextCandidate_] >= stop_) break;
      i = (*candidates_)[nextCandidate_++];
    } else {
      if (next_ == stop_) break;
      i = next_++;
    }
    if (!keep(i)) continue;
    index_ = i;
    if (!skipGeometry_ && !decoded_) shapeRead_ = layer_.shapes().read(i, view_);
    return true;
  }
  index_ = -1;
  return false;
}

bool SelectedRecords::keep(std::int64_t i) {
  ShapeReader& shapes = layer_.shapes();
  decoded_ = shapeRead_ = false;
  view_ = ShapeView{};
  bool partly = false;  // the record's box neither inside the box nor outside it
  if (box_) {
    ShapeReader::RecordBox own = shapes.recordBox(i);
    if (own.null) return false;
    if (const std::optional<Box>& b = own.box) {
      if (b->xMax < box_->xMin || b->xMin > box_->xMax || b->yMax < box_->yMin ||
          b->yMin > box_->yMax) {
        return false;
      }
      partly = !(b->xMin >= box_->xMin && b->xMax <= box_->xMax && b->yMin >= box_->yMin &&
                 b->yMax <= box_->yMax);
    } else {
      partly = true;  // its bytes cannot be had: reading it says why
    }
  }
  TableReader* table = layer_.table();
  row_.reset();
  if (table != nullptr && i < table->count()) row_ = table->read(i);
  if (filter_) {
    for (std::size_t c : filter_->columns()) {
      values_[c] = row_ ? table->value(*row_, c) : Value(Null{});
    }
    if (!filter_->test(values_)) return false;
  }
  if (partly) {
    decoded_ = true;
    shapeRead_ = shapes.read(i, view_);
    if (!shapeRead_ || !meets(view_, *box_)) return false;
  }
  return true;
}

}  // namespace kel::format
