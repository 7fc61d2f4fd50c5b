#include "GeoJsonToShapefile.h"

#include <charconv>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "GeoJsonFeatures.h"
#include "Tool.h"
#include "kel/format/FieldWriting.h"
#include "kel/format/LayerWriter.h"
#include "kel/geojson/Geometry.h"
#include "kel/runtime/Text.h"

namespace kelshp {

namespace {

namespace format = kel::format;

// The kinds of geometry, each of which makes a shape type: the index into the tables below.
enum ShapeKind { kNull, kPoint, kMultiPoint, kLine, kPolygon, kKinds };
constexpr const char* kSuffix[kKinds] = {"null", "point", "multipoint", "line", "polygon"};
constexpr const char* kShown[kKinds] = {"without geometry", "Point", "MultiPoint",
                                        "LineString or MultiLineString", "Polygon or MultiPolygon"};
constexpr format::ShapeType kShapeTypes[2][kKinds] = {
    {format::ShapeType::Null, format::ShapeType::Point, format::ShapeType::MultiPoint,
     format::ShapeType::PolyLine, format::ShapeType::Polygon},
    {format::ShapeType::Null, format::ShapeType::PointZ, format::ShapeType::MultiPointZ,
     format::ShapeType::PolyLineZ, format::ShapeType::PolygonZ}};

constexpr std::size_t kMaxWidth = 254;                         // of a column
constexpr std::size_t kIntegerChars = format::kIntegerDigits;  // that a Number column reads back
constexpr std::size_t kMaxColumns = 2046;                      // that a table's header describes
constexpr std::size_t kNameBytes = 10;                         // of a column's name

// RFC 7946 coordinates are longitudes and latitudes on WGS 84.
constexpr const char* kWgs84 =
    "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,"
    "298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";

class GeometryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---- Geometry -----------------------------------------------------------------------------

// A feature's shape as the writer takes it: its kind, its vertices and its part starts. Z values
// are kept from the first position that has one; the positions before it have 0.
struct Shape {
  ShapeKind kind = kNull;
  std::vector<double> x, y, z;
  std::vector<std::int32_t> parts;
  bool hasZ = false;     // a position has a third value
  bool beyondZ = false;  // a position has more than three

  void clear() {
    kind = kNull;
    x.clear();
    y.clear();
    z.clear();
    parts.clear();
    hasZ = beyondZ = false;
  }
  void startPart() { parts.push_back(static_cast<std::int32_t>(x.size())); }
  void add(const kel::geojson::Point& p, bool withZ) {
    if (withZ && !hasZ) z.assign(x.size(), 0.0), hasZ = true;
    x.push_back(p.x);
    y.push_back(p.y);
    if (hasZ) z.push_back(p.z);
  }
};

// Walks a geometry's coordinates as its type nests them, into the shape.
class Walk {
 public:
  // Every position has two numbers at least.
  Walk(const Coordinates& c, Shape& shape) : c_(c), shape_(shape) {
    shape.x.reserve(c.numbers.size() / 2);
    shape.y.reserve(c.numbers.size() / 2);
  }

  bool empty() const {
    return c_.events[0] == Coordinates::Open && c_.events[1] == Coordinates::Close;
  }

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

  kel::geojson::Point position() {
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
    shape_.beyondZ = shape_.beyondZ || count > 3;
    z_ = count > 2;
    return {v[0], v[1], v[2], 0};
  }
  // The next position, into the shape.
  void add() {
    kel::geojson::Point p = position();
    shape_.add(p, z_);
  }

  void line() {
    if (c_.events[e_] == Coordinates::Open && c_.events[e_ + 1] != Coordinates::Close) {
      shape_.startPart();
    }
    array("position", [&] { add(); });
  }

  // Shapefile rings run clockwise round the area they bound and counter-clockwise round holes.
  void polygon() {
    bool outer = true;
    array("ring", [&] {
      ring_.clear();
      bool z = false;
      array("position", [&] {
        ring_.push_back(position());
        z = z || z_;
      });
      if (ring_.empty()) throw GeometryError("a ring needs positions; this one has none");
      const kel::geojson::Point &first = ring_.front(), &last = ring_.back();
      if (first.x != last.x || first.y != last.y || first.z != last.z) {
        throw GeometryError("the ring is not closed: its last position differs from its first");
      }
      kel::geojson::orient(ring_, !outer);
      outer = false;
      shape_.startPart();
      for (const kel::geojson::Point& point : ring_) shape_.add(point, z);
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
  Shape& shape_;
  std::size_t e_ = 0, n_ = 0;  // the next event and number
  bool z_ = false;
  kel::geojson::Ring ring_;
};

// Reads a feature's geometry; a GeometryError says what is wrong with it.
void readGeometry(const Feature& feature, Shape& shape) {
  shape.clear();
  if (feature.geometry == Kind::Missing || feature.geometry == Kind::Null) return;
  if (feature.geometry != Kind::Object) {
    throw GeometryError(std::string("its geometry is ") + nameOf(feature.geometry) +
                        ", not an object or null");
  }
  if (feature.geometryType.kind != Kind::Text) throw GeometryError("its geometry has no type");
  const std::string& type = feature.geometryType.text;
  if (type == "GeometryCollection") {
    throw GeometryError("a GeometryCollection has no shape type in a shapefile");
  }
  static const std::set<std::string> kNames = {"Point",           "MultiPoint", "LineString",
                                               "MultiLineString", "Polygon",    "MultiPolygon"};
  if (kNames.count(type) == 0) {
    throw GeometryError("its geometry's type " + shownText(type) +
                        " is none of Point, MultiPoint, LineString, MultiLineString, Polygon "
                        "and MultiPolygon");
  }
  if (feature.coordinatesKind != Kind::Array) {
    throw GeometryError("its " + type + "'s coordinates are " + nameOf(feature.coordinatesKind) +
                        ", not an array");
  }
  Walk walk(feature.coordinates, shape);
  try {
    if (type == "Point") {
      shape.kind = kPoint;
      if (!walk.empty()) walk.add();
    } else if (type == "MultiPoint") {
      shape.kind = kMultiPoint;
      walk.array("position", [&] { walk.add(); });
    } else if (type == "LineString") {
      shape.kind = kLine;
      walk.line();
    } else if (type == "MultiLineString") {
      shape.kind = kLine;
      walk.array("line", [&] { walk.line(); });
    } else if (type == "Polygon") {
      shape.kind = kPolygon;
      walk.polygon();
    } else {
      shape.kind = kPolygon;
      walk.array("polygon", [&] { walk.polygon(); });
    }
  } catch (const GeometryError& e) {
    throw GeometryError("its " + type + "'s coordinates: " + e.what());
  }
}

// ---- Columns ------------------------------------------------------------------------------

enum class ValueKind { None, Text, Number, Logical };
constexpr const char* kValueKinds[] = {"null", "text", "a number", "a logical value"};

// A whole day of the years 1 to 9999 written YYYY-MM-DD.
std::optional<format::Date> dateOf(const std::string& s) {
  if (s.size() != 10 || s[4] != '-' || s[7] != '-') return std::nullopt;
  auto digits = [&](std::size_t at, std::size_t n, int& out) {
    auto [end, ec] = std::from_chars(s.data() + at, s.data() + at + n, out);
    return ec == std::errc() && end == s.data() + at + n && s[at] != '-' && s[at] != '+';
  };
  format::Date d;
  if (!digits(0, 4, d.year) || !digits(5, 2, d.month) || !digits(8, 2, d.day)) return std::nullopt;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (d.year % 4 == 0 && d.year % 100 != 0) || d.year % 400 == 0;
  if (d.year < 1 || d.month < 1 || d.month > 12 || d.day < 1) return std::nullopt;
  if (d.day > kDays[d.month - 1] + (d.month == 2 && leap)) return std::nullopt;
  return d;
}

std::string shortest(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

bool roundTrips(double value, int decimals) {
  char text[400];
  auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  double back = 0;
  std::from_chars(text, end.ptr, back);
  return end.ec == std::errc() && back == value;
}

// The fewest decimals with which the value, and every value written with more, reads back as the
// very same double. For most doubles these are the decimals of its shortest form that reads back:
// the nearest number of that many decimals, or of more, is at least as near, and the double's
// neighbours lie equally far on either side. A power of two has its lower neighbour nearer than
// its upper one, so that the nearest number of some decimals may fall below the halfway point to
// it (2^-24 at 23 decimals): those decimals are tried, downwards from where every rounding error
// is smaller than that half gap.
int decimalsOf(double value) {
  char text[32];
  auto shortest = std::to_chars(text, text + sizeof text, value);
  std::string_view s(text, static_cast<std::size_t>(shortest.ptr - text));
  int exponent = 0;
  if (std::size_t e = s.find('e'); e != std::string_view::npos) {
    std::from_chars(s.data() + e + (s[e + 1] == '+' ? 2 : 1), s.data() + s.size(), exponent);
    s = s.substr(0, e);
  }
  std::size_t point = s.find('.');
  int fraction = point == std::string_view::npos ? 0 : static_cast<int>(s.size() - point - 1);
  int decimals = std::max(0, fraction - exponent);
  int binary = 0;
  if (value != 0 && std::fabs(std::frexp(value, &binary)) == 0.5 && binary - 1 < 0) {
    int exact = 1 - binary;  // 2^-k has k decimals
    int safe = static_cast<int>((54 - binary) * 0.30103) + 2;
    for (int d = std::min(exact, safe); d >= decimals; --d) {
      if (!roundTrips(value, d)) {
        decimals = d + 1;
        break;
      }
    }
  }
  return decimals;
}

// The characters before the point of a number written with `decimals` decimals: its sign and
// whole digits.
std::size_t wholeCharsOf(double value, int decimals) {
  char text[400];
  auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  std::string_view s(text, static_cast<std::size_t>(end.ptr - text));
  return std::min(s.find('.'), s.size());
}

// What the values of one property make of its column.
struct Column {
  std::string property, name;
  ValueKind kind = ValueKind::None;
  std::int64_t kindFeature = -1;                       // the first feature with a value
  std::size_t longest = 0;                             // text: bytes of the longest
  bool dates = true;                                   // text: every value is a day, YYYY-MM-DD
  bool floats = false;                                 // numbers: one has a fraction or an exponent
  std::size_t integerChars = 0;                        // numbers: the widest integer, sign included
  std::int64_t longInteger = -1, inexactInteger = -1;  // the first integer too wide; no double
  std::string longText, inexactText;
  int decimals = 0;  // numbers: the most decimals a float needs
  std::int64_t decimalsFeature = -1;
  std::size_t wholeChars = 0;  // numbers: the most characters before the point
  std::int64_t wholeFeature = -1;
  format::ColumnDefinition definition;
};

class Columns {
 public:
  Columns(const std::string& in, bool cut) : in_(in), cut_(cut) {}
  Columns(const Columns&) = delete;  // the index finds the names in this one's columns
  Columns& operator=(const Columns&) = delete;

  // Takes the feature's properties into the columns.
  void survey(const Feature& feature) {
    for (const auto& [name, value] : feature.values)
      see(column(feature.index, name), feature.index, value);
  }

  // The columns' types, widths and decimals, once every value is seen.
  std::vector<format::ColumnDefinition> definitions() {
    std::vector<format::ColumnDefinition> out;
    for (Column& c : columns_) {
      format::ColumnDefinition& d = c.definition;
      d.name = c.name;
      switch (c.kind) {
        case ValueKind::None:
          d.type = 'C';
          d.width = 1;
          break;
        case ValueKind::Logical:
          d.type = 'L';
          d.width = 1;
          break;
        case ValueKind::Text:
          if (c.dates && c.longest > 0) {
            d.type = 'D';
            d.width = 8;
          } else {
            d.type = 'C';
            d.width = static_cast<std::uint8_t>(std::clamp<std::size_t>(c.longest, 1, kMaxWidth));
          }
          break;
        case ValueKind::Number:
          d.type = 'N';
          number(c);
          break;
      }
      out.push_back(d);
    }
    return out;
  }

  const std::vector<Column>& columns() const { return columns_; }
  std::optional<std::size_t> find(const std::string& property) const {
    auto it = index_.find(property);
    return it == index_.end() ? std::nullopt : std::optional(*it);
  }

 private:
  [[noreturn]] void refuse(std::int64_t feature, const Column& c, const std::string& what) const {
    throw ConvertError(featurePrefix(in_, feature) + "property " + shownText(c.property) + ": " +
                       what);
  }

  Column& column(std::int64_t feature, const std::string& property) {
    if (auto at = index_.find(property); at != index_.end()) return columns_[*at];
    if (property.empty()) {
      throw ConvertError(featurePrefix(in_, feature) +
                         "a property without a name cannot name a column");
    }
    if (columns_.size() == kMaxColumns) {
      throw ConvertError(featurePrefix(in_, feature) + "property " + shownText(property) +
                         " is the 2,047th: a table holds 2,046 columns");
    }
    Column c;
    c.property = property;
    c.name = nameFor(feature, property);
    if (c.name != property) {
      warn(in_ + ": property " + shownText(property) + " is written as column " +
           shownText(c.name));
    }
    columns_.push_back(std::move(c));
    index_.insert(columns_.size() - 1);
    return columns_.back();
  }

  // The property's name when it is free and fits in 10 bytes; else, as GDAL names columns, its
  // first 10 bytes, or when those are taken its first 8 and _1 to _9, then its first 8 and 10 to
  // 99 (letter case ignored; cut between whole characters).
  std::string nameFor(std::int64_t feature, const std::string& property) {
    auto cut = [&](std::size_t bytes) {
      std::size_t n = std::min(bytes, property.size());
      while (n > 0 && n < property.size() &&
             (static_cast<unsigned char>(property[n]) & 0xC0) == 0x80)
        --n;
      return property.substr(0, n);
    };
    auto take = [&](const std::string& name) {
      return taken_.insert(kel::upperCase(kel::toUtf16(name))).second;
    };
    std::string name = cut(kNameBytes);
    if (take(name)) return name;
    for (int k = 1; k < 100; ++k) {
      name = cut(8) + (k < 10 ? "_" : "") + std::to_string(k);
      if (take(name)) return name;
    }
    throw ConvertError(featurePrefix(in_, feature) + "property " + shownText(property) +
                       " finds no free column name: its first 10 bytes, and its first 8 with _1 "
                       "to _9 and 10 to 99, are taken");
  }

  void see(Column& c, std::int64_t feature, const PropertyValue& value) {
    static constexpr ValueKind kKinds[] = {ValueKind::None,   ValueKind::Logical, ValueKind::Number,
                                           ValueKind::Number, ValueKind::Number,  ValueKind::Text};
    ValueKind kind = kKinds[value.index()];
    if (kind == ValueKind::None) return;
    if (c.kind == ValueKind::None) {
      c.kind = kind;
      c.kindFeature = feature;
    } else if (c.kind != kind) {
      refuse(feature, c,
             std::string("it is ") + kValueKinds[static_cast<int>(kind)] + " here and " +
                 kValueKinds[static_cast<int>(c.kind)] + " in feature " +
                 std::to_string(c.kindFeature + 1) + "; a column holds one kind of value");
    }
    if (const auto* s = std::get_if<std::string>(&value)) {
      if (s->size() > kMaxWidth && !cut_) {
        refuse(feature, c,
               "the text takes " + std::to_string(s->size()) +
                   " bytes; a column holds 254 (--cut cuts such text)");
      }
      c.longest = std::max(c.longest, s->size());
      c.dates = c.dates && dateOf(*s).has_value();
    } else if (const auto* d = std::get_if<double>(&value)) {
      int decimals = std::max(1, decimalsOf(*d));
      std::size_t whole = wholeCharsOf(*d, decimals);
      if (whole + 1 + decimals > kMaxWidth) {
        refuse(feature, c,
               "the number " + shortest(*d) + " takes " + std::to_string(whole + 1 + decimals) +
                   " characters with the decimals that read it back; a column holds 254");
      }
      c.floats = true;
      if (decimals > c.decimals) c.decimals = decimals, c.decimalsFeature = feature;
      if (whole > c.wholeChars) c.wholeChars = whole, c.wholeFeature = feature;
    } else if (kind == ValueKind::Number) {
      // An integer: in a column of floats, it must be a double too. 2^63 and 2^64, to which the
      // largest integers round, are one past what the integer types hold.
      const auto* i = std::get_if<std::int64_t>(&value);
      std::uint64_t u = i ? 0 : std::get<std::uint64_t>(value);
      std::string text = i ? std::to_string(*i) : std::to_string(u);
      double as = i ? static_cast<double>(*i) : static_cast<double>(u);
      bool exact = i ? as < 0x1p63 && static_cast<std::int64_t>(as) == *i
                     : as < 0x1p64 && static_cast<std::uint64_t>(as) == u;
      if (text.size() > c.integerChars) c.integerChars = text.size();
      if (text.size() > c.wholeChars) c.wholeChars = text.size(), c.wholeFeature = feature;
      if (text.size() > kIntegerChars && c.longInteger < 0) {
        c.longInteger = feature, c.longText = text;
      }
      if (!exact && c.inexactInteger < 0) c.inexactInteger = feature, c.inexactText = text;
    }
  }

  // A Number column: integers up to 18 characters without decimals, which read back as integers;
  // else the decimals that every value needs to read back as the same double.
  void number(Column& c) {
    format::ColumnDefinition& d = c.definition;
    if (!c.floats) {
      if (c.longInteger >= 0) {
        refuse(c.longInteger, c,
               "the integer " + c.longText + " takes " + std::to_string(c.longText.size()) +
                   " characters; a Number column reads back integers of at most 18");
      }
      d.width = static_cast<std::uint8_t>(std::max<std::size_t>(c.integerChars, 1));
      return;
    }
    if (c.inexactInteger >= 0) {
      refuse(c.inexactInteger, c,
             "the integer " + c.inexactText +
                 " has no double that equals it, and the column's other numbers have decimals");
    }
    std::size_t width = c.wholeChars + 1 + static_cast<std::size_t>(c.decimals);
    if (width > kMaxWidth) {
      refuse(c.decimalsFeature, c,
             "its numbers take " + std::to_string(width) +
                 " characters: " + std::to_string(c.wholeChars) + " before the point (feature " +
                 std::to_string(c.wholeFeature + 1) + ") and " + std::to_string(c.decimals) +
                 " decimals (this one); a column holds 254");
    }
    d.width = static_cast<std::uint8_t>(width);
    d.decimals = static_cast<std::uint8_t>(c.decimals);
  }

  const std::string& in_;
  bool cut_;
  std::vector<Column> columns_;
  // The columns' places by their properties' names, which the columns hold once.
  NamePlaces index_{
      ByName{[this](std::size_t i) -> const std::string& { return columns_[i].property; }}};
  std::set<std::u16string> taken_;
};

format::Value valueOf(const PropertyValue& value, const format::ColumnDefinition& column) {
  struct {
    const format::ColumnDefinition& column;
    format::Value operator()(std::monostate) const { return format::Null{}; }
    format::Value operator()(bool b) const { return b; }
    format::Value operator()(std::int64_t i) const {
      if (column.decimals == 0) return i;
      return static_cast<double>(i);
    }
    format::Value operator()(std::uint64_t u) const { return static_cast<double>(u); }
    format::Value operator()(double d) const { return d; }
    format::Value operator()(const std::string& s) const {
      std::optional<format::Date> date = column.type == 'D' ? dateOf(s) : std::nullopt;
      if (date) return *date;
      return s;
    }
  } visitor{column};
  return std::visit(visitor, value);
}

// ---- The conversion -----------------------------------------------------------------------

// The feature's type, properties and shape, checked.
void readFeature(const std::string& in, const Feature& feature, Shape& shape) {
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
    readGeometry(feature, shape);
  } catch (const GeometryError& e) {
    throw ConvertError(prefix + e.what());
  }
}

bool isWgs84(const std::string& crs) {
  auto endsWith = [&](std::string_view end) { return crs.ends_with(end); };
  return endsWith(":CRS84") || endsWith("::4326") || crs == "EPSG:4326" ||
         (crs.find("EPSG") != std::string::npos && endsWith(":4326"));
}

// OUT without ".shp", and the extension to give each layer's path.
std::pair<std::string, std::string> splitExtension(const std::string& out) {
  if (out.size() >= 4 &&
      kel::equalsIgnoringCase(kel::toUtf16(out.substr(out.size() - 4)), u".shp")) {
    return {out.substr(0, out.size() - 4), out.substr(out.size() - 4)};
  }
  return {out, ".shp"};
}

}  // namespace

void geoJsonToShapefile(const std::string& path, const std::string& out,
                        const ShapefileOptions& options) {
  std::unique_ptr<kel::ReadOnlyFile> file = openGeoJson(path);
  const std::string in = path == "-" ? "standard input" : path;
  Progress progress;
  Shape shape;
  Columns columns(in, options.cut);
  std::int64_t count[kKinds] = {};
  bool z[kKinds] = {}, beyondZ = false;

  // First the shape types and the columns.
  CollectionInfo info = readFeatures(
      in, *file,
      [&](const Feature& feature) {
        readFeature(in, feature, shape);
        ++count[shape.kind];
        z[shape.kind] = z[shape.kind] || shape.hasZ;
        beyondZ = beyondZ || shape.beyondZ;
        columns.survey(feature);
      },
      progress, "reading " + in);

  std::vector<ShapeKind> kinds;
  for (int k = kPoint; k < kKinds; ++k) {
    if (count[k] > 0) kinds.push_back(static_cast<ShapeKind>(k));
  }
  if (kinds.size() > 1 && !options.splitTypes) {
    std::string mix;
    for (ShapeKind k : kinds)
      mix += (mix.empty() ? "" : ", ") + std::to_string(count[k]) + " " + kShown[k];
    if (count[kNull] > 0) mix += " (and " + std::to_string(count[kNull]) + " without geometry)";
    throw ConvertError(in + ": the features mix shape types: " + mix +
                       "; a layer holds one (--split-types writes one layer for each)");
  }
  // Null shapes have a layer of their own with --split-types; a collection of nothing else, or of
  // no features at all, is a Null layer.
  if ((count[kNull] > 0 && options.splitTypes) || kinds.empty()) kinds.insert(kinds.begin(), kNull);
  if (beyondZ) warn(in + ": positions have more than 3 values; those after the third are left out");

  std::vector<format::ColumnDefinition> definitions = columns.definitions();
  format::WriteOptions writeOptions;
  writeOptions.cut = options.cut;
  if (!info.crsMember || (info.crs && isWgs84(*info.crs))) {
    writeOptions.projection = kWgs84;
  } else {
    warn(in + ": the coordinates are in the system that its \"crs\" member names" +
         (info.crs ? " (" + *info.crs + ")" : std::string()) + "; no .prj file is written");
  }

  // Then the layers: one, or one for each kind.
  std::unique_ptr<format::LayerWriter> writers[kKinds];
  auto [base, extension] = splitExtension(out);
  try {
    for (ShapeKind k : kinds) {
      std::string path = options.splitTypes ? base + "_" + kSuffix[k] + extension : out;
      writers[options.splitTypes ? k : kNull] = std::make_unique<format::LayerWriter>(
          path, kShapeTypes[z[k]][k], definitions, writeOptions);
    }
  } catch (const format::WriteError& e) {
    throw ConvertError(e.what());
  }

  std::vector<format::Value> row;
  readFeatures(
      in, *file,
      [&](const Feature& feature) {
        readFeature(in, feature, shape);
        row.assign(definitions.size(), format::Null{});
        for (const auto& [name, value] : feature.values) {
          std::optional<std::size_t> c = columns.find(name);
          if (!c) throw ConvertError(in + ": the file changed while it was read");
          row[*c] = valueOf(value, definitions[*c]);
        }
        format::LayerWriter* writer = writers[options.splitTypes ? shape.kind : kNull].get();
        if (writer == nullptr) throw ConvertError(in + ": the file changed while it was read");
        format::ShapeArrays arrays;
        arrays.x = shape.x;
        arrays.y = shape.y;
        if (z[shape.kind]) {  // the layer's type is a Z type
          shape.z.resize(shape.x.size(), 0.0);
          arrays.z = shape.z;
        }
        if (shape.kind == kLine || shape.kind == kPolygon) arrays.parts = shape.parts;
        try {
          writer->add(arrays, row);
        } catch (const format::WriteError& e) {
          if (e.row() < 0) throw ConvertError(e.what());  // the system failed: the file is named
          std::string property =
              e.column() >= 0
                  ? "property " + shownText(columns.columns()[e.column()].property) + ": "
                  : std::string();
          throw ConvertError(featurePrefix(in, feature.index) + property + e.finding().sentence);
        }
      },
      progress, "writing " + out);

  try {
    for (auto& writer : writers) {
      if (writer) writer->close();
    }
  } catch (const format::WriteError& e) {
    throw ConvertError(e.what());
  }
}

}  // namespace kelshp
