#pragma once

// What GDAL reads of a shapefile, as tests/interop/gdal_dump.py prints it, and the spellings its
// lines use; support/EngineReading.h holds the format engine and the object model to it.

#include <charconv>
#include <string>

#include "support/PeerTools.h"

namespace kel::testing {

inline const std::string kSourceDir = KEL_SOURCE_DIR;

// gdal_dump.py's lines for the file at `shp`, with the script's options.
inline std::string gdalDumpOf(const std::string& shp, const std::string& options = "") {
  return run("/usr/bin/python3 " + quote(kSourceDir + "/tests/interop/gdal_dump.py") + " " +
             options + " " + quote(shp));
}

inline std::string unhex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

// One spelling per double, so that equal text means the very same double.
inline std::string realValue(double v) {
  char buffer[32];
  return "r" + std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr);
}

}  // namespace kel::testing
