#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "kel/format/Filter.h"
#include "kel/format/Layer.h"

namespace kel::format {

// What a reader of a layer asks for: the records whose geometry meets a box (on its border
// included) and whose row passes a filter (Filter.h), among the records [start, stop); the
// columns named, in the order named (all when none are named); the geometry, unless skipped.
struct Selection {
  std::optional<Box> box;
  std::optional<std::vector<std::string>> columns;
  std::int64_t start = 0;
  std::optional<std::int64_t> stop;
  bool skipGeometry = false;
  std::string where;

  // Whether it keeps every record and column.
  bool all() const noexcept {
    return !box && !columns && start == 0 && !stop && where.empty();
  }
};

// A selection that cannot be taken: a column that the table lacks, a box whose minimum lies
// above its maximum. A filter that cannot be read throws FilterError.
struct SelectionError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// Whether a record's shape meets a box, as GDAL's spatial filter decides: a point of it lies in
// the box, a line of it crosses the box, or the box lies inside a polygon of it. A Null shape
// meets no box.
bool meets(const ShapeView& shape, const Box& box);

// Walks the records of a layer that a selection keeps. With a box, only the records that the
// layer's spatial index names are looked at (SpatialIndex.h), and all when it has no index the
// reporter does not hear refused. A record is first tested by its own box, read without its
// vertices: one outside the box is left out undecoded, one inside it is kept, and the shape is
// decoded and tested only where the two boxes partly overlap. The filter decodes
// the values it reads, the caller the columns it asks for.
class SelectedRecords {
 public:
  // Throws SelectionError or FilterError. The index is read at the first next(), and a refused
  // one told to the layer's reporter then.
  SelectedRecords(Layer& layer, const Selection& selection);

  // Whether the records looked at are those a spatial index names (known after next()).
  bool indexed() const noexcept { return candidates_.has_value(); }

  // Moves to the next record kept; false when there is none.
  bool next();
  std::int64_t index() const noexcept { return index_; }
  // The record's shape, decoded unless the geometry is skipped; false when it cannot be read
  // (the reporter has heard why, and the view is a Null shape).
  bool shapeRead() const noexcept { return shapeRead_; }
  const ShapeView& shape() const noexcept { return view_; }
  // The record's row; none past the table's last row and without a table.
  const std::optional<RowView>& row() const noexcept { return row_; }
  // The table's columns asked for, by their index in the table.
  const std::vector<std::size_t>& columns() const noexcept { return columns_; }

 private:
  bool keep(std::int64_t i);

  Layer& layer_;
  std::optional<Box> box_;
  std::optional<Filter> filter_;
  bool skipGeometry_;
  std::vector<std::size_t> columns_;
  std::int64_t next_, stop_, index_ = -1;
  std::optional<std::vector<std::int64_t>> candidates_;  // ascending
  std::size_t nextCandidate_ = 0;
  bool indexLooked_ = false;
  bool decoded_ = false, shapeRead_ = false;
  ShapeView view_;
  std::optional<RowView> row_;
  std::vector<Value> values_;  // the filter's, by column
};

}  // namespace kel::format
