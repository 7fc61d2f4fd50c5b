// libFuzzer entry: a file set read into a new Shapefile (Targets.h).
#include "fuzz/Entry.h"
#include "fuzz/Targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return kel::fuzz::fuzzOne(kel::fuzz::checkRead, data, size);
}
