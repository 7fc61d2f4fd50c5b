#include "kel/plan/LayerPlanner.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <set>

#include "kel/format/DbaseFile.h"
#include "kel/format/FieldWriting.h"
#include "kel/format/ShapeType.h"
#include "kel/runtime/Text.h"
#include "kel/runtime/TextEncoder.h"

namespace kel::plan {

namespace {

using format::ShapeType;

using format::ColumnType;
using format::kMaxColumns;
using format::kMaxWidth;
constexpr std::size_t kIntegerChars = format::kIntegerDigits;  // that a Number column reads back
constexpr std::size_t kNameBytes = format::kMaxNameBytes;      // of a column's name

// The letter a column definition holds for a type.
constexpr char letterOf(ColumnType type) noexcept {
  return static_cast<char>(type);
}

// The shape type of each family: plain, with Z (and M), with M only.
constexpr ShapeType kTypes[kFamilies][3] = {
    {ShapeType::Null, ShapeType::Null, ShapeType::Null},
    {ShapeType::Point, ShapeType::PointZ, ShapeType::PointM},
    {ShapeType::MultiPoint, ShapeType::MultiPointZ, ShapeType::MultiPointM},
    {ShapeType::PolyLine, ShapeType::PolyLineZ, ShapeType::PolyLineM},
    {ShapeType::Polygon, ShapeType::PolygonZ, ShapeType::PolygonM}};

ShapeType typeOf(Family family, bool z, bool m) {
  return kTypes[static_cast<std::size_t>(family)][z ? 1 : m ? 2 : 0];
}

// Why the geometry cannot go into a layer of that type; none when it can.
std::optional<std::string> misfit(const Geometry& g, const format::ShapeTypeTraits& t) {
  using G = format::Geometry;
  Family f = familyOf(g.kind);
  if (f == Family::Null) return std::nullopt;
  bool fits = (t.geometry == G::Point && f == Family::Point) ||
              (t.geometry == G::MultiPoint && (f == Family::Point || f == Family::MultiPoint)) ||
              (t.geometry == G::PolyLine && f == Family::Line) ||
              ((t.geometry == G::Polygon || t.geometry == G::MultiPatch) && f == Family::Polygon);
  if (!fits) {
    return std::string("a ") + nameOf(g.kind) + " cannot go into a " + std::string(t.name) +
           " layer" + (t.geometry == G::Null ? ", which holds null shapes only" : "");
  }
  for (auto [values, held, what] : {std::tuple(&g.z, t.z, "Z"), std::tuple(&g.m, t.m, "M")}) {
    if (!values->empty() && !held) {
      return std::string("the positions have ") + what + " values, which a " + std::string(t.name) +
             " layer does not hold";
    }
  }
  return std::nullopt;
}

// ---- Numbers ------------------------------------------------------------------------------

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
  std::string text = shortest(value);
  std::string_view s = text;
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

// ---- Text ---------------------------------------------------------------------------------

// A whole day of the years 1 to 9999 written YYYY-MM-DD.
std::optional<format::Date> dateOf(std::string_view s) {
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

std::string isoText(const format::Date& d) {
  char text[16];
  auto put = [&](char* at, int value, int width) {
    for (int i = width - 1; i >= 0; --i, value /= 10) at[i] = static_cast<char>('0' + value % 10);
  };
  put(text, d.year, 4);
  text[4] = text[7] = '-';
  put(text + 5, d.month, 2);
  put(text + 8, d.day, 2);
  return std::string(text, 10);
}

// An integer's text: sign and digits.
std::string integerText(const Value& v) {
  if (const auto* i = std::get_if<std::int64_t>(&v)) return std::to_string(*i);
  return std::get<BigInteger>(v).digits;
}

// ---- Columns ------------------------------------------------------------------------------

enum class ValueKind { None, Text, Number, Logical };
constexpr const char* kValueKinds[] = {"null", "text", "a number", "a logical value"};

ValueKind kindOf(const Value& v) {
  static constexpr ValueKind kKinds[] = {ValueKind::None,   ValueKind::Logical, ValueKind::Number,
                                         ValueKind::Number, ValueKind::Number,  ValueKind::Text,
                                         ValueKind::Text};
  return kKinds[v.index()];
}

// What the values of one property make of its column.
struct Column {
  std::string property;
  ValueKind kind = ValueKind::None;
  std::int64_t kindFeature = -1;     // the first feature with a value
  std::size_t longest = 0;           // text: bytes of the longest in the encoding
  bool dates = true;                 // text: every value is a day
  bool floats = false;               // numbers: one has a fraction or an exponent
  bool asText = false;               // numbers: one is an integer too wide, written as text
  std::size_t textChars = 0;         // numbers: the most characters of one written as text
  std::size_t integerChars = 0;      // numbers: the widest integer, sign included
  std::int64_t inexactInteger = -1;  // the first integer that no double equals
  std::string inexactText;
  int decimals = 0;  // numbers: the most decimals a float needs
  std::int64_t decimalsFeature = -1;
  std::size_t wholeChars = 0;  // numbers: the most characters before the point
  std::int64_t wholeFeature = -1;
  format::ColumnDefinition definition;
};

}  // namespace

PlanError::PlanError(std::string sentence, std::int64_t feature,
                     std::optional<std::string> property, Cause cause)
    : std::runtime_error(sentence),
      sentence_(std::move(sentence)),
      feature_(feature),
      property_(std::move(property)),
      cause_(cause) {}

Family familyOf(GeometryKind kind) noexcept {
  static constexpr Family kFamily[] = {Family::Null,   Family::Point, Family::MultiPoint,
                                       Family::Line,   Family::Line,  Family::Polygon,
                                       Family::Polygon};
  return kFamily[static_cast<std::size_t>(kind)];
}

const char* nameOf(Family family) noexcept {
  static constexpr const char* kShown[kFamilies] = {"without geometry", "Point", "MultiPoint",
                                                    "LineString or MultiLineString",
                                                    "Polygon or MultiPolygon"};
  return kShown[static_cast<std::size_t>(family)];
}

void shapeOf(const Geometry& g, ShapeType type, Record& out) {
  const format::ShapeTypeTraits t = *format::traitsOf(static_cast<std::int32_t>(type));
  if (std::optional<std::string> why = misfit(g, t)) throw PlanError(*why);
  out.shape = {};
  out.closedRings = 0;
  out.parts.clear();
  out.partTypes.clear();
  if (g.x.empty()) return;  // a null shape
  const bool zeros = t.z && g.z.empty();
  const bool m = t.m && !g.m.empty();
  if (familyOf(g.kind) != Family::Polygon) {
    out.shape.x = g.x;
    out.shape.y = g.y;
    if (zeros) out.z.assign(g.x.size(), 0.0);
    if (t.z) out.shape.z = zeros ? std::span<const double>(out.z) : std::span<const double>(g.z);
    if (m) out.shape.m = g.m;
    if (familyOf(g.kind) == Family::Line) {
      for (std::size_t i = 0; i < g.parts.size(); ++i) {  // empty lines left out
        std::size_t end =
            i + 1 < g.parts.size() ? static_cast<std::size_t>(g.parts[i + 1]) : g.x.size();
        if (static_cast<std::size_t>(g.parts[i]) < end) out.parts.push_back(g.parts[i]);
      }
      out.shape.parts = out.parts;
    }
    return;
  }
  // Rings: each closed, and turned to run as the format has them.
  out.x.clear();
  out.y.clear();
  out.z.clear();
  out.m.clear();
  for (std::size_t i = 0; i < g.parts.size(); ++i) {
    std::size_t begin = static_cast<std::size_t>(g.parts[i]);
    std::size_t end =
        i + 1 < g.parts.size() ? static_cast<std::size_t>(g.parts[i + 1]) : g.x.size();
    if (begin == end) continue;
    std::size_t start = out.x.size();
    out.parts.push_back(static_cast<std::int32_t>(start));
    auto put = [&](std::size_t k) {
      out.x.push_back(g.x[k]);
      out.y.push_back(g.y[k]);
      if (t.z) out.z.push_back(zeros ? 0.0 : g.z[k]);
      if (m) out.m.push_back(g.m[k]);
    };
    for (std::size_t k = begin; k < end; ++k) put(k);
    if (g.x[begin] != g.x[end - 1] || g.y[begin] != g.y[end - 1] ||
        (!g.z.empty() && g.z[begin] != g.z[end - 1])) {
      put(begin);
      ++out.closedRings;
    }
    double area2 = 0;  // twice the signed area: positive when counter-clockwise
    for (std::size_t k = start, j = out.x.size() - 1; k < out.x.size(); j = k++) {
      area2 += (out.x[j] - out.x[k]) * (out.y[j] + out.y[k]);
    }
    const bool outer = i >= g.firstRings.size() || g.firstRings[i] != 0;
    if ((outer && area2 > 0) || (!outer && area2 < 0)) {
      auto from = static_cast<std::ptrdiff_t>(start);
      std::reverse(out.x.begin() + from, out.x.end());
      std::reverse(out.y.begin() + from, out.y.end());
      if (t.z) std::reverse(out.z.begin() + from, out.z.end());
      if (m) std::reverse(out.m.begin() + from, out.m.end());
    }
    if (t.geometry == format::Geometry::MultiPatch) {
      out.partTypes.push_back(static_cast<std::int32_t>(outer ? format::PartType::OuterRing
                                                              : format::PartType::InnerRing));
    }
  }
  if (out.x.empty()) return;
  out.shape = {out.x,
               out.y,
               t.z ? std::span<const double>(out.z) : std::span<const double>(),
               m ? std::span<const double>(out.m) : std::span<const double>(),
               out.parts,
               out.partTypes};
}

struct LayerPlanner::State {
  explicit State(PlanOptions o)
      : options(std::move(o)), encoder(TextEncoder::open(options.encoding)) {}

  PlanOptions options;
  std::unique_ptr<TextEncoder> encoder;  // null for an encoding that the writer will refuse
  std::string encoded;                   // reused
  std::int64_t surveyed = 0, recorded = 0;
  std::int64_t counts[kFamilies] = {};
  std::int64_t firsts[kFamilies] = {-1, -1, -1, -1, -1};
  bool z[kFamilies] = {}, m[kFamilies] = {};
  std::optional<PlanError> misfit;  // the first geometry that does not fit the type given
  std::vector<Column> columns;
  // The columns' places by their properties' names, which the columns hold once.
  struct ByProperty {
    using is_transparent = void;
    const std::vector<Column>* columns;
    std::string_view of(std::size_t i) const { return (*columns)[i].property; }
    std::string_view of(std::string_view s) const { return s; }
    template <class A, class B>
    bool operator()(const A& a, const B& b) const {
      return of(a) < of(b);
    }
  };
  std::set<std::size_t, ByProperty> index{ByProperty{&columns}};
  std::set<std::u16string> taken;  // the names given, upper-cased
  std::optional<LayerDefinition> layer;

  [[noreturn]] void refuse(std::int64_t feature, const Column& c, const std::string& what,
                           PlanError::Cause cause = PlanError::Cause::Other) const {
    throw PlanError(what, feature, c.property, cause);
  }

  std::string featureNamed(std::int64_t feature) const {
    return options.feature + " " + std::to_string(feature + options.firstFeature);
  }

  // The bytes of the text in the table's encoding (in UTF-8 where the encoding lacks one of its
  // characters: the writer refuses it then), and where a cut to `limit` bytes falls.
  TextEncoder::Result encode(std::string_view text, std::size_t limit = TextEncoder::npos) {
    encoded.clear();
    TextEncoder::Result r;
    if (encoder) r = encoder->encode(text, encoded, limit);
    if (!encoder || r.stop == TextEncoder::Stop::IllFormed ||
        r.stop == TextEncoder::Stop::NoSuchCharacter) {
      std::size_t n = std::min(limit, text.size());
      while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
      encoded.assign(text.substr(0, n));
      return {n == text.size() ? TextEncoder::Stop::End : TextEncoder::Stop::Full, n};
    }
    return r;
  }

  Column& column(std::int64_t feature, const std::string& property) {
    if (auto at = index.find(std::string_view(property)); at != index.end()) return columns[*at];
    if (property.empty()) {
      throw PlanError("a property without a name cannot name a column", feature);
    }
    if (columns.size() == kMaxColumns) {
      throw PlanError("it is the 2,047th property: a table holds 2,046 columns", feature, property);
    }
    Column c;
    c.property = property;
    c.definition.name = nameFor(feature, property);
    columns.push_back(std::move(c));
    index.insert(columns.size() - 1);
    return columns.back();
  }

  // As GDAL names columns: the property's first 10 bytes, or when those are taken its first 8
  // and _1 to _9, then its first 8 and 10 to 99 (letter case ignored; cut between whole
  // characters).
  std::string nameFor(std::int64_t feature, const std::string& property) {
    auto cut = [&](std::size_t bytes) { return property.substr(0, encode(property, bytes).at); };
    auto take = [&](const std::string& name) {
      return taken.insert(upperCase(toUtf16(name))).second;
    };
    std::string name = cut(kNameBytes);
    if (take(name)) return name;
    for (int k = 1; k < 100; ++k) {
      name = cut(8) + (k < 10 ? "_" : "") + std::to_string(k);
      if (take(name)) return name;
    }
    throw PlanError(
        "it finds no free column name: its first 10 bytes, and its first 8 with _1 to _9 and 10 "
        "to 99, are taken",
        feature, property);
  }

  void see(Column& c, std::int64_t feature, const Value& value) {
    ValueKind kind = kindOf(value);
    if (kind == ValueKind::None) return;
    if (c.kind == ValueKind::None) {
      c.kind = kind;
      c.kindFeature = feature;
    } else if (c.kind != kind) {
      refuse(feature, c,
             std::string("it is ") + kValueKinds[static_cast<int>(kind)] + " here and " +
                 kValueKinds[static_cast<int>(c.kind)] + " in " + featureNamed(c.kindFeature) +
                 "; a column holds one kind of value");
    }
    if (const auto* s = std::get_if<std::string>(&value)) {
      std::size_t bytes = encode(*s).at == s->size() ? encoded.size() : s->size();
      if (bytes > kMaxWidth && !options.cut) {
        refuse(feature, c, "the text takes " + std::to_string(bytes) + " bytes; a column holds 254",
               PlanError::Cause::LongText);
      }
      c.longest = std::max(c.longest, bytes);
      c.dates = c.dates && dateOf(*s).has_value();
    } else if (std::holds_alternative<format::Date>(value)) {
      c.longest = std::max<std::size_t>(c.longest, 10);
    } else if (const auto* d = std::get_if<double>(&value)) {
      if (!std::isfinite(*d)) {
        refuse(feature, c,
               "the number " + shortest(*d) +
                   " is not finite: a Number column holds finite "
                   "numbers, and null stands for no value");
      }
      int decimals = std::max(1, decimalsOf(*d));
      std::size_t whole = wholeCharsOf(*d, decimals);
      if (whole + 1 + decimals > kMaxWidth) {
        refuse(feature, c,
               "the number " + shortest(*d) + " takes " + std::to_string(whole + 1 + decimals) +
                   " characters with the decimals that read it back; a Number column holds at "
                   "most 254");
      }
      c.floats = true;
      c.textChars = std::max(c.textChars, shortest(*d).size());
      if (decimals > c.decimals) c.decimals = decimals, c.decimalsFeature = feature;
      if (whole > c.wholeChars) c.wholeChars = whole, c.wholeFeature = feature;
    } else if (kind == ValueKind::Number) {
      std::string text = integerText(value);
      if (text.size() > kIntegerChars) {
        if (!options.wideIntegersAsText) {
          refuse(feature, c,
                 "the integer " + text + " takes " + std::to_string(text.size()) +
                     " characters; a Number column reads back integers of at most 18",
                 PlanError::Cause::WideInteger);
        }
        if (text.size() > kMaxWidth) {
          refuse(feature, c,
                 "the integer takes " + std::to_string(text.size()) +
                     " characters; a column holds 254");
        }
        c.asText = true;
      }
      c.textChars = std::max(c.textChars, text.size());
      // In a column of floats, an integer must be a double too; 2^63, to which the largest
      // integers round, is one past what std::int64_t holds.
      const auto* i = std::get_if<std::int64_t>(&value);
      double as = i ? static_cast<double>(*i) : 0;
      bool exact = i && as < 0x1p63 && static_cast<std::int64_t>(as) == *i;
      if (!exact && !c.asText && c.inexactInteger < 0) {
        c.inexactInteger = feature, c.inexactText = text;
      }
      if (text.size() > c.integerChars) c.integerChars = text.size();
      if (text.size() > c.wholeChars) c.wholeChars = text.size(), c.wholeFeature = feature;
    }
  }

  // The column's type, width and decimals, once every value is seen.
  void define(Column& c) {
    format::ColumnDefinition& d = c.definition;
    auto narrow = [](std::size_t n) {
      return static_cast<std::uint8_t>(std::clamp<std::size_t>(n, 1, kMaxWidth));
    };
    switch (c.kind) {
      case ValueKind::None:
        d.type = letterOf(ColumnType::Character);
        d.width = 1;
        break;
      case ValueKind::Logical:
        d.type = letterOf(ColumnType::Logical);
        d.width = 1;
        break;
      case ValueKind::Text:
        d.type = letterOf(c.dates ? ColumnType::Date : ColumnType::Character);
        d.width = c.dates ? 8 : narrow(c.longest);
        break;
      case ValueKind::Number:
        if (c.asText) {  // its numbers as their shortest text
          d.type = letterOf(ColumnType::Character);
          d.width = narrow(c.textChars);
        } else {
          d.type = letterOf(ColumnType::Number);
          number(c);
        }
        break;
    }
  }

  // A Number column: integers up to 18 characters without decimals, which read back as integers;
  // else the decimals that every value needs to read back as the same double.
  void number(Column& c) {
    format::ColumnDefinition& d = c.definition;
    if (!c.floats) {
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
                 " characters: " + std::to_string(c.wholeChars) + " before the point (" +
                 featureNamed(c.wholeFeature) + ") and " + std::to_string(c.decimals) +
                 " decimals (this one); a Number column holds at most 254");
    }
    d.width = static_cast<std::uint8_t>(width);
    d.decimals = static_cast<std::uint8_t>(c.decimals);
  }
};

namespace {

format::Value valueOf(const Value& value, const format::ColumnDefinition& column) {
  struct {
    const format::ColumnDefinition& column;
    bool text() const { return column.type == ColumnType::Character; }
    format::Value operator()(std::monostate) const { return format::Null{}; }
    format::Value operator()(bool b) const { return b; }
    format::Value operator()(std::int64_t i) const {
      if (text()) return std::to_string(i);
      if (column.decimals == 0) return i;
      return static_cast<double>(i);
    }
    format::Value operator()(const BigInteger& b) const { return b.digits; }
    format::Value operator()(double d) const {
      if (text()) return shortest(d);
      return d;
    }
    format::Value operator()(const std::string& s) const {
      std::optional<format::Date> date = column.type == ColumnType::Date ? dateOf(s) : std::nullopt;
      if (date) return *date;
      return s;
    }
    format::Value operator()(const format::Date& d) const {
      if (text()) return isoText(d);
      return d;
    }
  } visitor{column};
  return std::visit(visitor, value);
}

}  // namespace

LayerPlanner::LayerPlanner(PlanOptions options)
    : state_(std::make_unique<State>(std::move(options))) {}

LayerPlanner::~LayerPlanner() = default;

void LayerPlanner::survey(const Geometry& geometry, std::span<const Property> properties) {
  State& s = *state_;
  const std::int64_t feature = s.surveyed++;
  auto f = static_cast<std::size_t>(familyOf(geometry.kind));
  if (s.counts[f]++ == 0) s.firsts[f] = feature;
  s.z[f] = s.z[f] || !geometry.z.empty();
  s.m[f] = s.m[f] || !geometry.m.empty();
  if (s.options.shapeType && !s.misfit) {
    if (auto why =
            misfit(geometry, *format::traitsOf(static_cast<std::int32_t>(*s.options.shapeType)))) {
      s.misfit = PlanError(*why, feature);
    }
  }
  for (const auto& [name, value] : properties) s.see(s.column(feature, name), feature, value);
}

std::int64_t LayerPlanner::count(Family family) const noexcept {
  return state_->counts[static_cast<std::size_t>(family)];
}

const std::string& LayerPlanner::propertyOf(std::size_t column) const {
  return state_->columns.at(column).property;
}

ShapeType LayerPlanner::typeOf(Family family) const noexcept {
  auto f = static_cast<std::size_t>(family);
  return plan::typeOf(family, state_->z[f], state_->m[f]);
}

const LayerDefinition& LayerPlanner::layer() {
  State& s = *state_;
  if (s.layer) return *s.layer;
  if (s.misfit) throw *s.misfit;
  LayerDefinition d;
  if (s.options.shapeType) {
    d.type = *s.options.shapeType;
  } else {
    // Points among MultiPoints are MultiPoints of one.
    std::vector<Family> present;
    bool z = false, m = false;
    for (std::size_t f = 1; f < kFamilies; ++f) {
      if (s.counts[f] == 0) continue;
      z = z || s.z[f];
      m = m || s.m[f];
      if (f != static_cast<std::size_t>(Family::Point) ||
          s.counts[static_cast<std::size_t>(Family::MultiPoint)] == 0) {
        present.push_back(static_cast<Family>(f));
      }
    }
    if (present.size() > 1 && !s.options.splitTypes) {
      std::string mix;
      std::int64_t second = -1;
      std::vector<std::int64_t> firsts;
      for (std::size_t f = 1; f < kFamilies; ++f) {
        if (s.counts[f] == 0) continue;
        mix += (mix.empty() ? "" : ", ") + std::to_string(s.counts[f]) + " " +
               nameOf(static_cast<Family>(f));
        firsts.push_back(s.firsts[f]);
      }
      std::sort(firsts.begin(), firsts.end());
      second = firsts[1];
      if (s.counts[0] > 0) mix += " (and " + std::to_string(s.counts[0]) + " without geometry)";
      throw PlanError("the features mix shape types: " + mix + "; a layer holds one", second,
                      std::nullopt, PlanError::Cause::MixedShapes);
    }
    if (present.size() == 1) d.type = plan::typeOf(present[0], z, m);
  }
  for (Column& c : s.columns) {
    s.define(c);
    d.columns.push_back(c.definition);
  }
  s.layer = std::move(d);
  return *s.layer;
}

void LayerPlanner::record(const Geometry& geometry, std::span<const Property> properties,
                          ShapeType type, Record& out) {
  State& s = *state_;
  const LayerDefinition& layer = this->layer();
  const std::int64_t feature = s.recorded++;
  try {
    shapeOf(geometry, type, out);
  } catch (const PlanError& e) {
    throw PlanError(e.sentence(), feature);
  }
  out.row.assign(layer.columns.size(), format::Null{});
  for (const auto& [name, value] : properties) {
    auto at = s.index.find(std::string_view(name));
    if (at == s.index.end()) {
      throw PlanError("the features changed after they were first read", feature, name);
    }
    out.row[*at] = valueOf(value, layer.columns[*at]);
  }
}

}  // namespace kel::plan
