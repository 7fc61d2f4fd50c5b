#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "Progress.h"
#include "kel/runtime/ReadOnlyFile.h"
#include "kel/plan/Features.h"

// Reading a GeoJSON FeatureCollection one feature at a time, as a stream of parser events, keeping
// of a feature only what a shapefile can take: its type, its geometry's type and coordinates, and
// its properties' plain values. Memory holds one feature, a few times its text, and never the
// whole collection.
namespace kelshp {

// Why a conversion stops: a whole line for the user, "<path>: feature 3: <what>".
class ConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "<path>: feature <index + 1>: "
std::string featurePrefix(const std::string& path, std::int64_t index);
// Text for a message: quoted, and cut between whole characters after about 40 bytes.
std::string shownText(const std::string& text);

// The places of named things (indices into a vector of them) ordered by the names, which finds a
// name among them without a copy of it: a tree, which no names can make slow.
struct ByName {
  using is_transparent = void;
  std::function<const std::string&(std::size_t)> nameAt;
  const std::string& name(std::size_t i) const { return nameAt(i); }
  const std::string& name(const std::string& s) const { return s; }
  template <class A, class B>
  bool operator()(const A& a, const B& b) const {
    return name(a) < name(b);
  }
};
using NamePlaces = std::set<std::size_t, ByName>;

// What a JSON value is.
enum class Kind : std::uint8_t { Missing, Null, Text, Number, Logical, Array, Object };
// "null", "text", "a number", "an array", ...
const char* nameOf(Kind kind);

// A member whose value is checked once the feature is whole: its kind, and its text.
struct Member {
  Kind kind = Kind::Missing;
  std::string text;
};

// A property's value as the planner takes it: null, true or false, an integer (as its text beyond
// the range of std::int64_t), a double, or text.
using PropertyValue = kel::plan::Value;

// A geometry's coordinates as the JSON nests them: a bracket opened or closed, a number (in
// `numbers`) or another value (its kind in `others`), in order. Arrays nest at most 4 deep, as a
// MultiPolygon's do; an object's content is left out. The queues grow a block at a time, without
// the copies and the room to spare of a growing vector.
struct Coordinates {
  enum Event : std::uint8_t { Open, Close, Number, Other };
  std::deque<Event> events;
  std::deque<double> numbers;
  std::vector<Kind> others;
};

struct Feature {
  std::int64_t index = 0;  // 0-based
  Member type;
  Kind geometry = Kind::Missing;  // an object, null, ...
  Member geometryType;
  Kind coordinatesKind = Kind::Missing;  // an array when `coordinates` holds it
  Coordinates coordinates;
  Kind properties = Kind::Missing;  // an object, null, ...
  // The properties in the order given; a name given twice keeps its place and its last value.
  std::vector<std::pair<std::string, PropertyValue>> values;
};

// What the collection says beside its features.
struct CollectionInfo {
  std::int64_t features = 0;
  bool crsMember = false;          // whether there is an old-style "crs" member
  std::optional<std::string> crs;  // the name it gives, when it gives one
};

// The GeoJSON file at `path`, or for "-" standard input, copied to a temporary file that has no
// name (it is read twice). Throws ConvertError for a file that cannot be opened or is no regular
// file, and for standard input that cannot be read or copied.
std::unique_ptr<kel::ReadOnlyFile> openGeoJson(const std::string& path);

// Reads the FeatureCollection in `file`, named `path` in the messages, and hands every feature to
// `visit` as it ends. Throws ConvertError for text that is no JSON (with the line and
// column, and the feature being read), a value that is no FeatureCollection, a member of "features"
// that is no object, coordinates nested deeper than any geometry's, a property whose value is an
// array or an object, and a feature of more than 2,046 properties (a table's most columns);
// `visit` may throw ConvertError too. `progress` hears the bytes read under the name `step`.
CollectionInfo readFeatures(const std::string& path, kel::ReadOnlyFile& file,
                            const std::function<void(const Feature&)>& visit, Progress& progress,
                            const std::string& step);

}  // namespace kelshp
