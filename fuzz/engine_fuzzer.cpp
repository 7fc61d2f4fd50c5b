// libFuzzer entry: a file set through the format engine's readers and codecs (Targets.h).
#include "fuzz/Entry.h"
#include "fuzz/Targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return kel::fuzz::fuzzOne(kel::fuzz::checkEngine, data, size);
}
