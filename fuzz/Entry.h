#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// What every libFuzzer entry does: runs its target on the input and stops the fuzzer, with what
// broke, when the target says its contract was broken.
namespace kel::fuzz {

inline int fuzzOne(std::string (*target)(std::string_view), const std::uint8_t* data,
                   std::size_t size) {
  std::string broken = target({reinterpret_cast<const char*>(data), size});
  if (!broken.empty()) {
    std::fprintf(stderr, "contract broken: %s\n", broken.c_str());
    std::abort();
  }
  return 0;
}

}  // namespace kel::fuzz
