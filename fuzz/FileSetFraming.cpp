#include "fuzz/FileSetFraming.h"

namespace kel::fuzz {

namespace {

// The bytes before the marker, and everything behind it moved into `rest`; all of it when the
// marker is missing.
std::string_view cutAt(std::string_view& rest, std::string_view marker) noexcept {
  std::size_t at = rest.find(marker);
  std::string_view head = rest.substr(0, at);
  rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + marker.size());
  return head;
}

}  // namespace

FileSetBytes splitFileSet(std::string_view input) noexcept {
  FileSetBytes files;
  files.shp = cutAt(input, kShxMarker);
  files.shx = cutAt(input, kDbfMarker);
  files.dbf = input;
  return files;
}

std::string joinFileSet(std::string_view shp, std::string_view shx, std::string_view dbf) {
  std::string input(shp);
  input += kShxMarker;
  input += shx;
  input += kDbfMarker;
  input += dbf;
  return input;
}

}  // namespace kel::fuzz
