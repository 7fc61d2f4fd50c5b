#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/Targets.h"

using namespace kel::fuzz;

// Every input that ever broke a fuzz target is kept under tests/regression/<target>/, and with
// the seeds goes through the target again on every run, in every build.
TEST(FuzzCorpus, EveryTargetKeepsItsContractOnSeedsAndRegressions) {
  const std::tuple<std::string, std::string (*)(std::string_view), std::vector<Seed>> targets[] = {
      {"read", checkRead, readSeeds()},
      {"roundtrip", checkRoundTrip, roundTripSeeds()},
      {"geojson", checkGeoJson, geoJsonSeeds()},
      {"engine", checkEngine, engineSeeds()}};
  for (const auto& [target, check, seeds] : targets) {
    std::vector<Seed> inputs = seeds;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(KEL_REGRESSION_DIR) + "/" + target)) {
      if (entry.path().filename().string().front() == '.') continue;  // .keep holds the folder
      std::ifstream in(entry.path(), std::ios::binary);
      inputs.emplace_back(entry.path().filename().string(),
                          std::string(std::istreambuf_iterator<char>(in), {}));
    }
    for (const auto& [name, input] : inputs) EXPECT_EQ(check(input), "") << target << "/" << name;
  }
}
