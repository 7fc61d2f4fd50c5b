#pragma once

#include <string>
#include <string_view>

// How one fuzz input stands for the three files of a shapefile: the main file's bytes, the marker
// "#SHX#", the index file's bytes, the marker "#DBF#", the table's bytes. The first occurrence of
// each marker splits; a missing marker leaves the files behind it empty. Separate files keep a
// mutation inside one file from shifting the others.
namespace kel::fuzz {

inline constexpr std::string_view kShxMarker = "#SHX#";
inline constexpr std::string_view kDbfMarker = "#DBF#";

struct FileSetBytes {
  std::string_view shp, shx, dbf;
};

FileSetBytes splitFileSet(std::string_view input) noexcept;
std::string joinFileSet(std::string_view shp, std::string_view shx, std::string_view dbf);

}  // namespace kel::fuzz
