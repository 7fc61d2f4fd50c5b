// libFuzzer entry: a file set through the format engine's readers and codecs (Targets.h).
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "fuzz/Targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string broken = kel::fuzz::checkEngine({reinterpret_cast<const char*>(data), size});
  if (!broken.empty()) {
    std::fprintf(stderr, "contract broken: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}
