// libFuzzer entry: a valid shapefile edited through the object model, written and read back
// (Targets.h).
#include "fuzz/Entry.h"
#include "fuzz/Targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return kel::fuzz::fuzzOne(kel::fuzz::checkRoundTrip, data, size);
}
