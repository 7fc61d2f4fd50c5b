#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The fuzz targets, as plain functions: the fuzzers call them, and the test suite replays the
// seeds and the regression corpus through them on every run. Each returns empty text when the
// library kept its contract for the input, otherwise what broke; a crash, a leak or a hang is
// left to the sanitizers and the fuzzer's limits.
namespace kel::fuzz {

// The input is a file set (FileSetFraming.h), read into a new Shapefile. The read must close what
// it opened and change no file; what it read is walked and, when the read succeeded, written and
// read back (WriteContract.h).
std::string checkRead(std::string_view input);

// The input's first byte picks one of a few valid shapefiles, which is read; the rest edits the
// object model (ModelEdits.h), which is then written and read back (WriteContract.h).
std::string checkRoundTrip(std::string_view input);

// As the round trip, with Nothing and entries of the wrong class anywhere in the edits; then every
// shape's GeoJSON geometry and properties, as `kelshp dump` and __geo_interface__ compute them,
// must come out whole or raise a kel::Error, and a write must return true or false.
std::string checkGeoJson(std::string_view input);

// The input is a file set, opened through the format engine: every record, row and value is
// visited, each shape must encode and decode to the same view, and every refusal must come with a
// reason.
std::string checkEngine(std::string_view input);

using Seed = std::pair<std::string, std::string>;  // a name and the input
std::vector<Seed> readSeeds();
std::vector<Seed> roundTripSeeds();
std::vector<Seed> geoJsonSeeds();
std::vector<Seed> engineSeeds();

}  // namespace kel::fuzz
