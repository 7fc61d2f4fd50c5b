#include "GeoJsonFeatures.h"

#include <iterator>
#include <memory>
#include <span>

#include "runtime/ReadOnlyFile.h"

namespace kelshp {

namespace {

using nlohmann::json;

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

// The parser's own words, without its "[json.exception.parse_error.101] " prefix.
std::string reason(const std::exception& e) {
  std::string what = e.what();
  if (what.rfind("[json.exception.", 0) == 0 && what.find("] ") != std::string::npos) {
    what.erase(0, what.find("] ") + 2);
  }
  return what;
}

std::string kindOf(const json& value) {
  switch (value.type()) {
    case json::value_t::object:
      return "an object";
    case json::value_t::array:
      return "an array";
    case json::value_t::string:
      return "text";
    case json::value_t::boolean:
      return "a logical value";
    case json::value_t::null:
      return "null";
    default:
      return "a number";
  }
}

}  // namespace

std::string featurePrefix(const std::string& path, std::int64_t index) {
  return path + ": feature " + std::to_string(index + 1) + ": ";
}

CollectionInfo readFeatures(
    const std::string& path,
    const std::function<void(std::int64_t, const json&, const PropertyOrder&)>& visit,
    Progress& progress, const std::string& step) {
  kel::ReadOnlyFile::OpenError openError;
  std::unique_ptr<kel::ReadOnlyFile> file = kel::ReadOnlyFile::open(path, openError);
  if (!file) {
    throw ConvertError(path + ": " + (openError.missing ? "no such file" : openError.sentence));
  }
  Input input(*file);

  // Where the parser is: the root's member being read, the feature being read and its member.
  CollectionInfo info;
  std::string rootKey, featureKey;
  bool inFeatures = false, featuresSeen = false, inProperties = false;
  std::int64_t feature = -1;
  PropertyOrder order;

  auto callback = [&](int depth, json::parse_event_t event, json& parsed) {
    using E = json::parse_event_t;
    if (depth == 1) {
      switch (event) {
        case E::key:
          rootKey = parsed.get<std::string>();
          return true;
        case E::array_start:
          if (rootKey != "features") return rootKey == "crs";
          if (featuresSeen) throw ConvertError(path + ": the collection has two \"features\"");
          inFeatures = featuresSeen = true;
          return true;
        case E::array_end:
          inFeatures = false;
          return true;
        case E::object_start:
          return rootKey == "crs";
        case E::value:
          if (rootKey == "type" && parsed != "FeatureCollection") {
            throw ConvertError(path + ": this is no GeoJSON FeatureCollection: its type is " +
                               parsed.dump());
          }
          return rootKey == "type";
        default:
          return true;
      }
    }
    if (!inFeatures) return true;
    if (depth == 2) {
      if (event == E::object_start) {
        ++feature;
        order.clear();
        return true;
      }
      if (event == E::object_end) {
        visit(feature, parsed, order);
        progress.update(step, input.position(), file->size());
        return false;  // the feature is done with: memory holds one at a time
      }
      std::string kind = event == E::array_start ? "an array" : kindOf(parsed);
      throw ConvertError(featurePrefix(path, feature + 1) + "it is " + kind +
                         ", not a Feature object");
    } else if (depth == 3) {
      if (event == E::key) featureKey = parsed.get<std::string>();
      if (event == E::object_start || event == E::object_end) {
        inProperties = event == E::object_start && featureKey == "properties";
      }
    } else if (depth == 4 && event == E::key && inProperties) {
      order.push_back(parsed.get<std::string>());
    }
    return true;
  };

  json root;
  try {
    root = json::parse(Input::Iterator(&input), Input::Iterator(), callback);
  } catch (const json::exception& e) {
    std::string where = inFeatures ? featurePrefix(path, feature) : path + ": ";
    throw ConvertError(where + "this is no JSON: " + reason(e));
  }
  progress.clear();
  if (!root.is_object()) {
    throw ConvertError(path + ": this is no GeoJSON FeatureCollection but " + kindOf(root));
  }
  if (!root.contains("type")) {
    throw ConvertError(path + ": this is no GeoJSON FeatureCollection: it has no \"type\"");
  }
  if (!featuresSeen) {
    throw ConvertError(path + ": the FeatureCollection has no \"features\" array");
  }
  info.features = feature + 1;
  if (auto crs = root.find("crs"); crs != root.end()) {
    info.crsMember = true;
    if (crs->is_object() && crs->contains("properties") && (*crs)["properties"].is_object()) {
      const json& properties = (*crs)["properties"];
      if (auto name = properties.find("name"); name != properties.end() && name->is_string()) {
        info.crs = name->get<std::string>();
      }
    }
  }
  return info;
}

}  // namespace kelshp
