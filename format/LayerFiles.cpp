#include "kel/format/LayerFiles.h"

#include "kel/runtime/Text.h"

namespace kel::format {

bool LayerFiles::endsInShp(std::string_view path) {
  return path.size() >= 4 && asciiUpper(path.substr(path.size() - 4)) == ".SHP";
}

LayerFiles LayerFiles::of(std::string_view path) {
  if (!endsInShp(path)) return {std::string(path), false};
  return {std::string(path.substr(0, path.size() - 4)), path.substr(path.size() - 3) == "SHP"};
}

std::string LayerFiles::path(std::string_view extension, bool otherCase) const {
  return base + (upperCase != otherCase ? asciiUpper(extension) : std::string(extension));
}

}  // namespace kel::format
