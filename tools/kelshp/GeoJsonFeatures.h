#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Progress.h"

// Reading a GeoJSON FeatureCollection one feature at a time, so that memory holds one feature and
// never the whole collection.
namespace kelshp {

// Why a conversion stops: a whole line for the user, "<path>: feature 3: <what>".
class ConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A feature's properties in the order the file has them (the parsed object keeps its keys
// sorted), each name once.
using PropertyOrder = std::vector<std::string>;

// What the collection says beside its features.
struct CollectionInfo {
  std::int64_t features = 0;
  std::optional<std::string> crs;  // the "name" of an old-style "crs" member, when it has one
  bool crsMember = false;          // whether there is a "crs" member at all
};

// Reads the FeatureCollection in the file at `path` and hands every feature to `visit` as it
// ends, with its index (0-based) and its properties' order; the feature is dropped after.
// Throws ConvertError for a file that cannot be read, text that is no JSON (with the line and
// column and the feature being read), a value that is no FeatureCollection, or a member of
// "features" that is no object; `visit` may throw ConvertError too. `progress` hears the bytes
// read under the name `step`.
CollectionInfo readFeatures(
    const std::string& path,
    const std::function<void(std::int64_t, const nlohmann::json&, const PropertyOrder&)>& visit,
    Progress& progress, const std::string& step);

// "<path>: feature <index + 1>: "
std::string featurePrefix(const std::string& path, std::int64_t index);

}  // namespace kelshp
