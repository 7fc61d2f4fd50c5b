// libFuzzer entry: a valid shapefile edited with Nothing anywhere, then drawn as GeoJSON and
// written (Targets.h).
#include "fuzz/Entry.h"
#include "fuzz/Targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return kel::fuzz::fuzzOne(kel::fuzz::checkGeoJson, data, size);
}
