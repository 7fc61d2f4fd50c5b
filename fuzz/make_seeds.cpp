// Writes the seed corpus of both fuzzers: make_seeds DIR gives DIR/read and DIR/roundtrip.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "fuzz/Targets.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  namespace fs = std::filesystem;
  for (const auto& [target, seeds] :
       {std::pair{"read", kel::fuzz::readSeeds()}, {"roundtrip", kel::fuzz::roundTripSeeds()}}) {
    fs::path dir = fs::path(argv[1]) / target;
    fs::create_directories(dir);
    for (const auto& [name, bytes] : seeds) {
      std::ofstream(dir / name, std::ios::binary) << bytes;
    }
  }
  return 0;
}
