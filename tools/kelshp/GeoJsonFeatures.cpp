#include "GeoJsonFeatures.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>

#include "kel/runtime/ReadOnlyFile.h"

namespace kelshp {

namespace {

using json = nlohmann::json;

constexpr std::size_t kMaxProperties = kel::format::kMaxColumns;
constexpr int kMaxNesting = 4;                // of a MultiPolygon's coordinates

// The file's bytes as the JSON parser reads them, a chunk at a time through the file's window, and
// how many of them it has read.
class Input {
 public:
  static constexpr std::size_t kChunk = 64 * 1024;

  explicit Input(kel::ReadOnlyFile& file) : file_(file) {}

  // The parser's iterator: every copy reads the same input, and one is at the end when the input
  // is.
  class Iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = char;

    explicit Iterator(Input* input = nullptr) : input_(input) {}
    char operator*() const { return input_->current(); }
    Iterator& operator++() {
      input_->advance();
      return *this;
    }
    Iterator operator++(int) {
      Iterator before = *this;
      input_->advance();
      return before;
    }
    bool operator==(const Iterator& other) const { return atEnd() == other.atEnd(); }

   private:
    bool atEnd() const { return input_ == nullptr || input_->atEnd(); }
    Input* input_;
  };

  std::int64_t position() const { return chunkStart_ + static_cast<std::int64_t>(at_); }

 private:
  char current() const { return static_cast<char>(chunk_[at_]); }
  void advance() { ++at_; }
  bool atEnd() {
    if (at_ < chunk_.size()) return false;
    chunkStart_ += static_cast<std::int64_t>(chunk_.size());
    chunk_ = file_.view(chunkStart_, kChunk);
    at_ = 0;
    return chunk_.empty();
  }

  kel::ReadOnlyFile& file_;
  std::span<const unsigned char> chunk_;
  std::int64_t chunkStart_ = 0;
  std::size_t at_ = 0;
};

double numberOf(const PropertyValue& number) {
  if (const auto* i = std::get_if<std::int64_t>(&number)) return static_cast<double>(*i);
  if (const auto* d = std::get_if<double>(&number)) return *d;
  const std::string& digits = std::get<kel::plan::BigInteger>(number).digits;
  double value = 0;
  std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return value;
}

// Follows the parser's events through the collection: where it is (a stack of the containers open,
// each with its part in the collection), the member whose value comes next, and the feature being
// read. Containers whose content does not matter are Ignored, and cost one byte each while open.
class Reader {
 public:
  Reader(const std::string& path, const std::function<void(const Feature&)>& visit,
         Progress& progress, const std::string& step, const Input& input, std::int64_t size)
      : path_(path), visit_(visit), progress_(progress), step_(step), input_(input), size_(size) {}
  Reader(const Reader&) = delete;  // the places find the names in this one's feature
  Reader& operator=(const Reader&) = delete;

  // The parser's events.
  bool null() { return scalar(Kind::Null, std::monostate{}); }
  bool boolean(bool value) { return scalar(Kind::Logical, value); }
  bool number_integer(std::int64_t value) { return scalar(Kind::Number, value); }
  bool number_unsigned(std::uint64_t value) {
    if (value <= static_cast<std::uint64_t>(INT64_MAX)) {
      return scalar(Kind::Number, static_cast<std::int64_t>(value));
    }
    return scalar(Kind::Number, kel::plan::BigInteger{std::to_string(value)});
  }
  // An integer too wide for 64 bits comes as a double, rounded: a property's keeps its digits.
  bool number_float(double value, const std::string& text) {
    if (!stack_.empty() && stack_.back() == Context::Properties &&
        text.find_first_of(".eE") == std::string::npos) {
      return scalar(Kind::Number, kel::plan::BigInteger{text});
    }
    return scalar(Kind::Number, value);
  }
  bool string(std::string& value) { return scalar(Kind::Text, std::move(value)); }
  bool binary(json::binary_t&) { return scalar(Kind::Text, std::monostate{}); }  // not in JSON
  bool start_object(std::size_t) { return start(Kind::Object); }
  bool start_array(std::size_t) { return start(Kind::Array); }
  bool end_object() { return end(); }
  bool end_array() { return end(); }
  // The name is the parser's own buffer, taken rather than copied.
  bool key(std::string& name) {
    key_ = std::move(name);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
    // The parser's own words, without their "[json.exception.parse_error.101] ".
    std::string what = e.what();
    if (std::size_t bracket = what.find("] ");
        what.starts_with("[json.") && bracket < what.size()) {
      what.erase(0, bracket + 2);
    }
    bool inFeatures = stack_.size() >= 2 && stack_[1] == Context::Features;
    throw ConvertError((inFeatures ? featurePrefix(path_, count_) : path_ + ": ") +
                       "cannot read the JSON: " + what);
  }

  CollectionInfo finish() const {
    if (rootKind_ != Kind::Object) {
      throw ConvertError(path_ + ": this is no GeoJSON FeatureCollection but " + nameOf(rootKind_));
    }
    if (!typed_) {
      throw ConvertError(path_ + ": this is no GeoJSON FeatureCollection: it has no \"type\"");
    }
    if (!featuresSeen_) {
      throw ConvertError(path_ + ": the FeatureCollection has no \"features\" array");
    }
    return {count_, crsMember_, crs_};
  }

 private:
  enum class Context : std::uint8_t {
    Root,
    Features,
    Feature,
    Geometry,
    Coordinates,
    Properties,
    Crs,
    CrsProperties,
    Ignored
  };

  std::string prefix() const { return featurePrefix(path_, count_); }

  bool start(Kind kind) {
    Context next = Context::Ignored;
    bool object = kind == Kind::Object;
    if (stack_.empty()) {
      rootKind_ = kind;
      if (object) next = Context::Root;
    } else {
      switch (stack_.back()) {
        case Context::Root:
          if (key_ == "features") {
            if (featuresSeen_) throw ConvertError(path_ + ": the collection has two \"features\"");
            featuresSeen_ = !object;
            if (!object) next = Context::Features;
          } else if (key_ == "crs") {
            crsMember_ = true;
            if (object) next = Context::Crs;
          }
          break;
        case Context::Features:
          if (!object) throw ConvertError(prefix() + "it is an array, not a Feature object");
          feature_.index = count_;
          feature_.type = Member();
          feature_.geometry = feature_.properties = Kind::Missing;
          clearGeometry();
          clearProperties();
          next = Context::Feature;
          break;
        case Context::Feature:
          if (key_ == "geometry") {
            feature_.geometry = kind;
            clearGeometry();
            if (object) next = Context::Geometry;
          } else if (key_ == "properties") {
            feature_.properties = kind;
            clearProperties();
            if (object) next = Context::Properties;
          } else if (key_ == "type") {
            feature_.type = {kind, {}};
          }
          break;
        case Context::Geometry:
          if (key_ == "coordinates") {
            clearCoordinates();
            feature_.coordinatesKind = kind;
            if (!object) next = Context::Coordinates;
          } else if (key_ == "type") {
            feature_.geometryType = {kind, {}};
          }
          break;
        case Context::Coordinates:
          if (object) {
            other(Kind::Object);
          } else if (nesting_ == kMaxNesting) {
            throw ConvertError(prefix() +
                               "its coordinates nest deeper than any geometry's: a "
                               "MultiPolygon's arrays nest 4 deep");
          } else {
            next = Context::Coordinates;
          }
          break;
        case Context::Properties:
          throw ConvertError(prefix() + "property " + shownText(key_) + ": " + nameOf(kind) +
                             " cannot go into a column");
        case Context::Crs:
          if (object && key_ == "properties") next = Context::CrsProperties;
          break;
        default:
          break;
      }
    }
    if (next == Context::Coordinates) {
      ++nesting_;
      feature_.coordinates.events.push_back(Coordinates::Open);
    }
    stack_.push_back(next);
    return true;
  }

  bool end() {
    Context done = stack_.back();
    stack_.pop_back();
    if (done == Context::Coordinates) {
      --nesting_;
      feature_.coordinates.events.push_back(Coordinates::Close);
    } else if (done == Context::Feature) {
      visit_(feature_);
      ++count_;
      progress_.update(step_, input_.position(), size_);
    }
    return true;
  }

  // A member given again replaces what the first gave; the containers keep their room.
  void clearGeometry() {
    feature_.geometryType = Member();
    clearCoordinates();
  }
  void clearCoordinates() {
    feature_.coordinatesKind = Kind::Missing;
    feature_.coordinates.events.clear();
    feature_.coordinates.numbers.clear();
    feature_.coordinates.others.clear();
  }
  void clearProperties() {
    feature_.values.clear();
    names_.clear();
  }

  void other(Kind kind) {
    feature_.coordinates.events.push_back(Coordinates::Other);
    feature_.coordinates.others.push_back(kind);
  }

  bool scalar(Kind kind, PropertyValue&& value) {
    if (stack_.empty()) {
      rootKind_ = kind;
      return true;
    }
    auto text = [&] { return kind == Kind::Text ? std::get<std::string>(value) : std::string(); };
    switch (stack_.back()) {
      case Context::Root:
        if (key_ == "type") {
          if (kind != Kind::Text || std::get<std::string>(value) != "FeatureCollection") {
            throw ConvertError(path_ + ": this is no GeoJSON FeatureCollection: its type is " +
                               (kind == Kind::Text ? shownText(text()) : nameOf(kind)));
          }
          typed_ = true;
        } else if (key_ == "crs") {
          crsMember_ = true;
        }
        break;
      case Context::Features:
        throw ConvertError(prefix() + "it is " + nameOf(kind) + ", not a Feature object");
      case Context::Feature:
        if (key_ == "type") {
          feature_.type = {kind, text()};
        } else if (key_ == "geometry") {
          feature_.geometry = kind;
        } else if (key_ == "properties") {
          feature_.properties = kind;
          clearProperties();
        }
        break;
      case Context::Geometry:
        if (key_ == "type") {
          feature_.geometryType = {kind, text()};
        } else if (key_ == "coordinates") {
          feature_.coordinatesKind = kind;
        }
        break;
      case Context::Coordinates:
        if (kind == Kind::Number) {
          feature_.coordinates.events.push_back(Coordinates::Number);
          feature_.coordinates.numbers.push_back(numberOf(value));
        } else {
          other(kind);
        }
        break;
      case Context::Properties:
        property(std::move(value));
        break;
      case Context::CrsProperties:
        if (key_ == "name" && kind == Kind::Text) crs_ = text();
        break;
      default:
        break;
    }
    return true;
  }

  // The name moves into the feature, which holds it once: the places find it there.
  void property(PropertyValue&& value) {
    if (auto at = names_.find(key_); at != names_.end()) {
      feature_.values[*at].second = std::move(value);
      return;
    }
    if (feature_.values.size() == kMaxProperties) {
      throw ConvertError(prefix() + "it has more than 2,046 properties; a table holds 2,046 " +
                         "columns");
    }
    feature_.values.emplace_back(std::move(key_), std::move(value));
    names_.insert(feature_.values.size() - 1);
  }

  const std::string& path_;
  const std::function<void(const Feature&)>& visit_;
  Progress& progress_;
  const std::string& step_;
  const Input& input_;
  std::int64_t size_;

  std::vector<Context> stack_;
  std::string key_;  // the name of the member whose value comes next
  int nesting_ = 0;  // of the coordinates' arrays
  Kind rootKind_ = Kind::Missing;
  bool typed_ = false, featuresSeen_ = false, crsMember_ = false;
  std::optional<std::string> crs_;
  std::int64_t count_ = 0;  // features read
  Feature feature_;
  NamePlaces names_{ByName{[this](std::size_t i) -> const std::string& {
    return feature_.values[i].first;
  }}};  // the feature's properties' places
};

}  // namespace

const char* nameOf(Kind kind) {
  static const char* const kNames[] = {"missing",         "null",     "text",     "a number",
                                       "a logical value", "an array", "an object"};
  return kNames[static_cast<int>(kind)];
}

std::string shownText(const std::string& text) {
  if (text.size() <= 40) return '"' + text + '"';
  std::size_t n = 37;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return '"' + text.substr(0, n) + "...\"";
}

std::string featurePrefix(const std::string& path, std::int64_t index) {
  return path + ": feature " + std::to_string(index + 1) + ": ";
}

namespace {

std::string systemSays() {
  return std::strerror(errno);
}

// Copies standard input to the file `fd`: nothing, or why it could not.
std::optional<std::string> copyStandardInput(int fd) {
  std::vector<char> buffer(Input::kChunk);
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (n == 0) return std::nullopt;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return "cannot be read: " + systemSays();
    for (ssize_t done = 0; done < n;) {
      ssize_t w = ::write(fd, buffer.data() + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno != EINTR) return "cannot be copied to a temporary file: " + systemSays();
      if (w > 0) done += w;
    }
  }
}

}  // namespace

std::unique_ptr<kel::ReadOnlyFile> openGeoJson(const std::string& path) {
  kel::ReadOnlyFile::OpenError openError;
  if (path != "-") {
    std::unique_ptr<kel::ReadOnlyFile> file = kel::ReadOnlyFile::open(path, openError);
    if (!file) {
      throw ConvertError(path + ": " + (openError.missing ? "no such file" : openError.sentence));
    }
    return file;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string name = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kelshp-XXXXXX";
  int fd = ::mkstemp(name.data());
  if (fd < 0) {
    throw ConvertError("standard input: cannot be copied to " + name + ": " + systemSays());
  }
  // Without a name, the copy is left behind by nothing that ends the process.
  ::unlink(name.c_str());
  std::optional<std::string> failure = copyStandardInput(fd);
  std::unique_ptr<kel::ReadOnlyFile> file;
  if (!failure) {
    // The descriptor's own name stands for the file's.
    file = kel::ReadOnlyFile::open("/dev/fd/" + std::to_string(fd), openError);
    if (!file) failure = "cannot be copied to a temporary file: " + openError.sentence;
  }
  ::close(fd);
  if (failure) throw ConvertError("standard input: " + *failure);
  return file;
}

CollectionInfo readFeatures(const std::string& path, kel::ReadOnlyFile& file,
                            const std::function<void(const Feature&)>& visit, Progress& progress,
                            const std::string& step) {
  Input input(file);
  Reader reader(path, visit, progress, step, input, file.size());
  json::sax_parse(Input::Iterator(&input), Input::Iterator(), &reader);
  progress.clear();
  return reader.finish();
}

}  // namespace kelshp
