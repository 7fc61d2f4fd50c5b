// Writes the seed corpus of the fuzzers: make_seeds DIR gives DIR/read, DIR/roundtrip,
// DIR/geojson and DIR/engine, and the read seeds once more as shapefiles,
// DIR/files/<name>.shp, .shx and .dbf.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "fuzz/FileSetFraming.h"
#include "fuzz/Targets.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  namespace fs = std::filesystem;
  for (const auto& [target, seeds] : {std::pair{"read", kel::fuzz::readSeeds()},
                                      {"roundtrip", kel::fuzz::roundTripSeeds()},
                                      {"geojson", kel::fuzz::geoJsonSeeds()},
                                      {"engine", kel::fuzz::engineSeeds()}}) {
    fs::path dir = fs::path(argv[1]) / target;
    fs::create_directories(dir);
    for (const auto& [name, bytes] : seeds) {
      std::ofstream(dir / name, std::ios::binary) << bytes;
    }
  }
  fs::path files = fs::path(argv[1]) / "files";
  fs::create_directories(files);
  for (const auto& [name, bytes] : kel::fuzz::readSeeds()) {
    kel::fuzz::FileSetBytes set = kel::fuzz::splitFileSet(bytes);
    std::ofstream(files / (name + ".shp"), std::ios::binary) << set.shp;
    std::ofstream(files / (name + ".shx"), std::ios::binary) << set.shx;
    std::ofstream(files / (name + ".dbf"), std::ios::binary) << set.dbf;
  }
  return 0;
}
