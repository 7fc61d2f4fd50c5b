#include "GeoJsonToShapefile.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

#include "GeoJsonFeatures.h"
#include "Projection.h"
#include "Tool.h"
#include "kel/format/LayerFiles.h"
#include "kel/format/LayerWriter.h"
#include "kel/plan/LayerPlanner.h"

namespace kelshp {

namespace {

namespace format = kel::format;
namespace plan = kel::plan;

// The file name suffix of each family's layer with --split-types.
constexpr const char* kSuffix[plan::kFamilies] = {"null", "point", "multipoint", "line", "polygon"};

class GeometryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---- Geometry -----------------------------------------------------------------------------

// A position as GeoJSON gives it: X and Y, and Z where it has a third value.
struct Position {
  double x = 0, y = 0;
  std::optional<double> z;
};

// Walks a geometry's coordinates as its type nests them, into the planner's geometry.
class Walk {
 public:
  Walk(const Coordinates& c, plan::Geometry& geometry) : c_(c), g_(geometry) {
    // Every position has two numbers at least.
    geometry.x.reserve(c.numbers.size() / 2);
    geometry.y.reserve(c.numbers.size() / 2);
  }

  bool empty() const {
    return c_.events[0] == Coordinates::Open && c_.events[1] == Coordinates::Close;
  }
  bool beyondZ() const { return beyondZ_; }

  // An array, calling `element` for each of its elements, each named ("ring 2: ...") in what it
  // throws.
  template <class F>
  void array(const char* name, F&& element) {
    if (c_.events[e_] != Coordinates::Open)
      throw GeometryError("it is " + what() + ", not an array");
    ++e_;
    for (std::size_t i = 1; c_.events[e_] != Coordinates::Close; ++i) {
      try {
        element();
      } catch (const GeometryError& e) {
        throw GeometryError(std::string(name) + " " + std::to_string(i) + ": " + e.what());
      }
    }
    ++e_;
  }

  // The next position, into the geometry.
  void add() {
    constexpr const char* kPosition = ": a position is 2 or 3 numbers";
    if (c_.events[e_] != Coordinates::Open) throw GeometryError("it is " + what() + kPosition);
    ++e_;
    double v[3] = {};
    std::size_t count = 0;
    for (; c_.events[e_] == Coordinates::Number; ++e_, ++count) {
      if (count < 3) v[count] = c_.numbers[n_];
      ++n_;
    }
    if (c_.events[e_] != Coordinates::Close) throw GeometryError("it holds " + what() + kPosition);
    ++e_;
    if (count < 2) {
      throw GeometryError("it holds " + std::to_string(count) + " number" + (count ? "" : "s") +
                          kPosition);
    }
    beyondZ_ = beyondZ_ || count > 3;
    g_.add(v[0], v[1], count > 2 ? std::optional<double>(v[2]) : std::nullopt);
  }

  void line() {
    g_.startLine();
    array("position", [&] { add(); });
  }

  // The planner closes open rings and turns them to run as the format has them.
  void polygon() {
    bool first = true;
    array("ring", [&] {
      g_.startRing(first);
      first = false;
      array("position", [&] { add(); });
    });
  }

 private:
  // What the next event is, for a message.
  std::string what() const {
    switch (c_.events[e_]) {
      case Coordinates::Open:
        return "an array";
      case Coordinates::Number:
        return "a number";
      default:
        return nameOf(c_.others[static_cast<std::size_t>(
            std::count(c_.events.begin(), c_.events.begin() + static_cast<std::ptrdiff_t>(e_),
                       Coordinates::Other))]);
    }
  }

  const Coordinates& c_;
  plan::Geometry& g_;
  std::size_t e_ = 0, n_ = 0;  // the next event and number
  bool beyondZ_ = false;
};

// Reads a feature's geometry; a GeometryError says what is wrong with it. Returns whether a
// position has more than 3 values.
bool readGeometry(const Feature& feature, plan::Geometry& geometry) {
  geometry.clear();
  if (feature.geometry == Kind::Missing || feature.geometry == Kind::Null) return false;
  if (feature.geometry != Kind::Object) {
    throw GeometryError(std::string("its geometry is ") + nameOf(feature.geometry) +
                        ", not an object or null");
  }
  if (feature.geometryType.kind != Kind::Text) throw GeometryError("its geometry has no type");
  const std::string& type = feature.geometryType.text;
  if (type == "GeometryCollection") {
    throw GeometryError("a GeometryCollection has no shape type in a shapefile");
  }
  std::optional<plan::GeometryKind> kind = plan::geometryKindNamed(type);
  if (!kind) {
    throw GeometryError("its geometry's type " + shownText(type) +
                        " is none of Point, MultiPoint, LineString, MultiLineString, Polygon "
                        "and MultiPolygon");
  }
  if (feature.coordinatesKind != Kind::Array) {
    throw GeometryError("its " + type + "'s coordinates are " + nameOf(feature.coordinatesKind) +
                        ", not an array");
  }
  geometry.kind = *kind;
  Walk walk(feature.coordinates, geometry);
  try {
    switch (*kind) {
      case plan::GeometryKind::Point:
        if (!walk.empty()) walk.add();
        break;
      case plan::GeometryKind::MultiPoint:
        walk.array("position", [&] { walk.add(); });
        break;
      case plan::GeometryKind::LineString:
        walk.line();
        break;
      case plan::GeometryKind::MultiLineString:
        walk.array("line", [&] { walk.line(); });
        break;
      case plan::GeometryKind::Polygon:
        walk.polygon();
        break;
      default:
        walk.array("polygon", [&] { walk.polygon(); });
    }
  } catch (const GeometryError& e) {
    throw GeometryError("its " + type + "'s coordinates: " + e.what());
  }
  return walk.beyondZ();
}

// The planner's refusal as a line for the user, with the option that has it otherwise.
ConvertError refusal(const std::string& in, const plan::PlanError& e) {
  using Cause = plan::PlanError::Cause;
  std::string line = e.feature() >= 0 && e.cause() != Cause::MixedShapes
                         ? featurePrefix(in, e.feature())
                         : in + ": ";
  if (e.property()) line += "property " + shownText(*e.property()) + ": ";
  line += e.sentence();
  if (e.cause() == Cause::MixedShapes) line += " (--split-types writes one layer for each)";
  if (e.cause() == Cause::LongText) line += " (--cut cuts such text)";
  if (e.cause() == Cause::WideInteger) line += " (--wide-integers-as-text writes them as text)";
  return ConvertError(line);
}

// ---- The conversion -----------------------------------------------------------------------

// The feature's type, properties and shape, checked.
// Returns whether a position has more than 3 values.
bool readFeature(const std::string& in, const Feature& feature, plan::Geometry& geometry) {
  std::string prefix = featurePrefix(in, feature.index);
  if (feature.type.kind != Kind::Text || feature.type.text != "Feature") {
    throw ConvertError(prefix + "it is no Feature: its type is " +
                       (feature.type.kind == Kind::Text ? shownText(feature.type.text)
                                                        : nameOf(feature.type.kind)));
  }
  if (feature.properties != Kind::Object && feature.properties != Kind::Null &&
      feature.properties != Kind::Missing) {
    throw ConvertError(prefix + "its properties are " + nameOf(feature.properties) +
                       ", not an object or null");
  }
  try {
    return readGeometry(feature, geometry);
  } catch (const GeometryError& e) {
    throw ConvertError(prefix + e.what());
  }
}

// OUT without ".shp", and the extension to give each layer's path.
std::pair<std::string, std::string> splitExtension(const std::string& out) {
  if (format::LayerFiles::endsInShp(out)) {
    return {format::LayerFiles::of(out).base, out.substr(out.size() - 4)};
  }
  return {out, ".shp"};
}

}  // namespace

void geoJsonToShapefile(const std::string& path, const std::string& out,
                        const ShapefileOptions& options) {
  std::unique_ptr<kel::ReadOnlyFile> file = openGeoJson(path);
  const std::string in = path == "-" ? "standard input" : path;
  Progress progress;
  plan::Geometry geometry;
  plan::PlanOptions planOptions;
  planOptions.cut = options.cut;
  planOptions.wideIntegersAsText = options.wideIntegersAsText;
  planOptions.splitTypes = options.splitTypes;
  plan::LayerPlanner planner(planOptions);
  bool beyondZ = false;
  bool degrees = true;  // whether every coordinate can be a longitude and latitude

  // First the shape types and the columns.
  CollectionInfo info;
  try {
    info = readFeatures(
        in, *file,
        [&](const Feature& feature) {
          beyondZ = readFeature(in, feature, geometry) || beyondZ;
          for (std::size_t i = 0; i < geometry.size() && degrees; ++i) {
            degrees = canBeDegrees(geometry.x[i], geometry.y[i]);
          }
          planner.survey(geometry, feature.values);
        },
        progress, "reading " + in);
    planner.layer();
  } catch (const plan::PlanError& e) {
    throw refusal(in, e);
  }
  const plan::LayerDefinition& layer = planner.layer();
  for (std::size_t c = 0; c < layer.columns.size(); ++c) {
    if (layer.columns[c].name != planner.propertyOf(c)) {
      warn(in + ": property " + shownText(planner.propertyOf(c)) + " is written as column " +
           shownText(layer.columns[c].name));
    }
  }
  if (beyondZ) warn(in + ": positions have more than 3 values; those after the third are left out");

  // One layer, or with --split-types one for each family that has features (a collection of no
  // features at all is a Null layer).
  std::vector<plan::Family> families;
  for (std::size_t f = 0; f < plan::kFamilies && options.splitTypes; ++f) {
    if (planner.count(static_cast<plan::Family>(f)) > 0) {
      families.push_back(static_cast<plan::Family>(f));
    }
  }
  if (families.empty()) families.push_back(plan::Family::Null);

  format::WriteOptions writeOptions;
  writeOptions.cut = options.cut;
  ShapefileCrs crs = shapefileCrs(in, info.crsMember, info.crs, degrees, options.toCrs);
  writeOptions.projection = crs.prj;
  writeOptions.append = options.append;

  std::unique_ptr<format::LayerWriter> writers[plan::kFamilies];
  auto [base, extension] = splitExtension(out);
  try {
    for (plan::Family f : families) {
      std::string path =
          options.splitTypes ? base + "_" + kSuffix[static_cast<int>(f)] + extension : out;
      writers[static_cast<int>(f)] = std::make_unique<format::LayerWriter>(
          path, options.splitTypes ? planner.typeOf(f) : layer.type, layer.columns, writeOptions);
    }
  } catch (const format::WriteError& e) {
    throw ConvertError(e.what());
  }

  plan::Record record;
  std::int64_t closedRings = 0;
  readFeatures(
      in, *file,
      [&](const Feature& feature) {
        readFeature(in, feature, geometry);
        if (crs.reprojection) {
          try {
            crs.reprojection->apply(geometry.x, geometry.y);
          } catch (const std::exception& e) {
            throw ConvertError(featurePrefix(in, feature.index) + e.what());
          }
        }
        auto f = static_cast<int>(options.splitTypes ? plan::familyOf(geometry.kind)
                                                     : plan::Family::Null);
        format::LayerWriter* writer = writers[f].get();
        if (writer == nullptr) throw ConvertError(in + ": the file changed while it was read");
        try {
          planner.record(
              geometry, feature.values,
              options.splitTypes ? planner.typeOf(plan::familyOf(geometry.kind)) : layer.type,
              record);
          writer->add(record.shape, record.row);
        } catch (const plan::PlanError& e) {
          throw refusal(in, e);
        } catch (const format::WriteError& e) {
          if (e.row() < 0) throw ConvertError(e.what());  // the system failed: the file is named
          std::string property =
              e.column() >= 0
                  ? "property " +
                        shownText(planner.propertyOf(static_cast<std::size_t>(e.column()))) + ": "
                  : std::string();
          throw ConvertError(featurePrefix(in, feature.index) + property + e.finding().sentence);
        }
        closedRings += record.closedRings;
      },
      progress, "writing " + out);

  try {
    for (auto& writer : writers) {
      if (writer) writer->close();
    }
  } catch (const format::WriteError& e) {
    throw ConvertError(e.what());
  }
  if (closedRings > 0) {
    warn(in + ": " + std::to_string(closedRings) + " polygon ring" + (closedRings > 1 ? "s" : "") +
         " did not end at " + (closedRings > 1 ? "their" : "its") + " first position and " +
         (closedRings > 1 ? "were" : "was") + " closed");
  }
}

}  // namespace kelshp
