#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace kelbench {

// One shape of a workload, as every contender gets it: the 0-based starts of its parts and its
// vertices as x, y pairs.
struct Shape {
  std::vector<int> parts;
  std::vector<double> xy;
  int vertexCount() const { return static_cast<int>(xy.size() / 2); }
};

// One attribute row; every workload has the same three columns.
struct Row {
  std::string name;   // Character, 16
  std::string value;  // Number, 12.3
  std::string day;    // Date, YYYYMMDD
};

// The content of a standard workload, generated the same way every run.
struct Workload {
  std::string name;  // "W1" .. "W5"
  int shapeType;     // the shapefile's code: 1, 3, 5 or 8
  std::vector<Shape> shapes;
  std::vector<Row> rows;
};

struct Column {
  const char* name;
  char type;
  int width;
  int decimals;
};
inline constexpr Column kColumns[] = {
    {"NAME", 'C', 16, 0}, {"VALUE", 'N', 12, 3}, {"DAY", 'D', 8, 0}};

inline std::uint64_t bitsOf(double v) {
  return std::bit_cast<std::uint64_t>(v);
}

// W1 Point 32,000; W2 PolyLine 32,000 x 100 vertices in 2 parts; W3 Polygon 5,000 x 600 vertices,
// an outer ring and a hole; W4 MultiPoint 10,000 x 50; W5 one PolyLine of 32,766 vertices.
std::vector<Workload> standardWorkloads();

// What a read saw, summed so that every contender's reading of a file can be compared and none of
// it can be optimised away.
struct Digest {
  double coordinateSum = 0;  // every vertex
  // In a walk: every X, Y, Z and M value's bits, added as integers. The sum does not depend on
  // the order, and its additions do not wait on each other as those of a floating sum do, so
  // that a walk's time is its reader's rather than that of one long chain of additions.
  std::uint64_t coordinateBits = 0;
  double numberSum = 0;  // every number and date (as YYYYMMDD) value, in a walk
  double boxSum = 0;     // a point's box is the library's own choice, so not compared
  long typeCodes = 0;    // each library's own codes, so not compared
  long vertices = 0;
  long partStarts = 0;  // the sum of every part's first vertex
  long shapes = 0;
  long textBytes = 0;
};

}  // namespace kelbench
