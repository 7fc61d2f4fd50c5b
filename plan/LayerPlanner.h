#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "kel/format/LayerWriter.h"
#include "kel/plan/Features.h"

// Features into a shapefile layer: the shape type and the columns that every feature fits, found
// in a first pass over the features, then each feature's record for format::LayerWriter in a
// second. `kelshp convert` and the Python module's kelshapelib.write both plan through here, so
// that the same features make the same layer through either.
//
// The rules, as GDAL's shapefile driver has them where it has one:
// - Shape type: Point, MultiPoint, PolyLine (LineString, MultiLineString) or Polygon (Polygon,
//   MultiPolygon) by the geometries; Points among MultiPoints make a MultiPoint layer, in which
//   each is a MultiPoint of one; other mixes are refused. The layer has Z values when any
//   position has one (the others have 0), M values when any has one (the others "no measure").
//   Features without geometry are null shapes; with nothing else, the layer's type is Null.
// - Rings: the first ring of each polygon runs clockwise and the others counter-clockwise, as
//   the format has them; a ring whose last position differs from its first is closed. Empty
//   lines and rings are left out.
// - Columns, a property each, in the order the properties first come: integers a Number column
//   as wide as the widest (at most 18 characters, sign included, which readers read back as
//   integers: a wider one is refused, or with wideIntegersAsText makes its column text); numbers
//   among which one has a fraction a Number column with the fewest decimals that read each back
//   as the same double; logical values a Logical column; text a Character column as wide as the
//   longest text in the table's encoding (at most 254 bytes, or cut with `cut`), or a Date column
//   when every text is a day written YYYY-MM-DD (as GDAL's GeoJSON reader takes such text), and
//   days themselves a Date column; a property with no value but null a Character column 1 wide.
//   Values of two kinds in one property are refused.
// - Names: a property's name, when it fits in 10 bytes in the table's encoding and is free
//   (letter case ignored); else its first 10 bytes, or when those are taken its first 8 and _1 to
//   _9, then its first 8 and 10 to 99.
namespace kel::plan {

// The kinds of geometry that each make one family of shape types.
enum class Family : std::uint8_t { Null, Point, MultiPoint, Line, Polygon };
constexpr std::size_t kFamilies = 5;
Family familyOf(GeometryKind kind) noexcept;
// "Point", "LineString or MultiLineString", "without geometry", ...
const char* nameOf(Family family) noexcept;

struct PlanOptions {
  std::string encoding = "UTF-8";   // the table's, in which text is measured and names cut
  bool cut = false;                 // text longer than a column holds is cut, not refused
  bool wideIntegersAsText = false;  // an integer wider than 18 characters makes a text column
  bool splitTypes = false;          // mixed families are each given a type (typeOf) unrefused
  std::optional<format::ShapeType> shapeType;  // the layer's, given: the geometries must fit it
  // How the sentences name a feature: "feature 1" for the first, or "row 0".
  std::string feature = "feature";
  int firstFeature = 1;
};

// Why features cannot be planned or a geometry not go into a layer: the feature (0-based, -1 for
// none), the property where one is meant, and a sentence.
class PlanError : public std::runtime_error {
 public:
  // What a door may say more about (how to have it otherwise).
  enum class Cause { Other, MixedShapes, LongText, WideInteger };
  explicit PlanError(std::string sentence, std::int64_t feature = -1,
                     std::optional<std::string> property = {}, Cause cause = Cause::Other);
  const std::string& sentence() const noexcept { return sentence_; }
  std::int64_t feature() const noexcept { return feature_; }
  const std::optional<std::string>& property() const noexcept { return property_; }
  Cause cause() const noexcept { return cause_; }

 private:
  std::string sentence_;
  std::int64_t feature_;
  std::optional<std::string> property_;
  Cause cause_;
};

struct LayerDefinition {
  format::ShapeType type = format::ShapeType::Null;
  std::vector<format::ColumnDefinition> columns;
};

// A record for LayerWriter::add. The shape's arrays may point into the geometry it was made from,
// or into the vectors here.
struct Record {
  format::ShapeArrays shape;
  std::vector<format::Value> row;
  std::int64_t closedRings = 0;  // rings of the shape that were open and are closed
  std::vector<double> x, y, z, m;
  std::vector<std::int32_t> parts, partTypes;
};

// The shape of a layer of that type that the geometry makes, by the rules above (a Polygon goes
// into a MultiPatch layer as outer and inner rings). Throws PlanError (with no feature) for a
// geometry of another family, and for Z or M values that the type does not hold.
void shapeOf(const Geometry& geometry, format::ShapeType type, Record& out);

class LayerPlanner {
 public:
  explicit LayerPlanner(PlanOptions options = {});
  ~LayerPlanner();
  LayerPlanner(const LayerPlanner&) = delete;
  LayerPlanner& operator=(const LayerPlanner&) = delete;

  // First, every feature in order. Throws PlanError for a property without a name, more than
  // 2,046 of them, values of two kinds in one, and a value that no column holds.
  void survey(const Geometry& geometry, std::span<const Property> properties);

  // Then the layer they make. Throws PlanError for a mix of families (unless splitTypes), a
  // geometry that does not fit the type given, and columns that cannot hold every value.
  const LayerDefinition& layer();
  // The features of a family, and with splitTypes the type of its own layer.
  std::int64_t count(Family family) const noexcept;
  // The property of a column, whose name the planner holds once.
  const std::string& propertyOf(std::size_t column) const;
  format::ShapeType typeOf(Family family) const noexcept;

  // Then every feature again, in the same order, as a record of a layer of that type (layer()'s,
  // or with splitTypes its family's). Throws PlanError for a property the survey did not see.
  void record(const Geometry& geometry, std::span<const Property> properties,
              format::ShapeType type, Record& out);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kel::plan
