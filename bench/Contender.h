#pragma once

#include <string>

#include "Workload.h"

namespace kelbench {

// A library under measurement, doing the same work as the others: a read visits every shape's
// type, parts, vertices and box and every attribute value as text; a write creates the workload
// in the library's own objects and writes it to dir/stem.shp, .shx and .dbf.
struct Contender {
  const char* name;
  Digest (*read)(const std::string& dir, const std::string& stem);
  void (*write)(const Workload& workload, const std::string& dir, const std::string& stem);
};

// A library's walk over a file through its lowest-level reader: every shape's type, parts, box
// and vertices with their Z and M values, and every attribute value decoded by its column's type
// (numbers as numbers, dates as dates, text as text).
struct Walker {
  const char* name;
  Digest (*walk)(const std::string& dir, const std::string& stem);
};

// A writer alone: the format engine's, which streams the workload to the files (EngineWriter.cpp).
struct Writer {
  const char* name;
  void (*write)(const Workload& workload, const std::string& dir, const std::string& stem);
};

extern const Contender kOurs;
extern const Contender kShapelib;
extern const Contender kGdal;
extern const Walker kEngineWalk;
extern const Walker kShapelibWalk;
extern const Walker kGdalWalk;
extern const Writer kEngineWriter;

}  // namespace kelbench
