// libFuzzer entry: a valid shapefile edited through the object model with Nothing anywhere, then
// drawn as GeoJSON and written (Targets.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/Targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string broken = kel::fuzz::checkGeoJson({reinterpret_cast<const char*>(data), size});
  if (!broken.empty()) {
    std::fprintf(stderr, "contract broken: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
