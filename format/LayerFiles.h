#pragma once

#include <string>
#include <string_view>

namespace kel::format {

// How the files of a layer are named, from the path of its main file with or without ".shp"
// (letter case ignored): the path without it, and the extensions in the main file's letter case,
// upper case when the path ends in ".SHP" and lower case otherwise.
struct LayerFiles {
  std::string base;
  bool upperCase = false;

  static LayerFiles of(std::string_view path);
  // Whether the path ends in ".shp", letter case ignored.
  static bool endsInShp(std::string_view path);
  // The file with an extension given in lower case (".shx"): in the layer's letter case, or with
  // `otherCase` in the other one.
  std::string path(std::string_view extension, bool otherCase = false) const;
};

}  // namespace kel::format
