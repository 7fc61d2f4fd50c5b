#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kel/format/Reporter.h"
#include "kel/format/ShapeRecord.h"
#include "kel/runtime/ReadOnlyFile.h"

// The quadtree index of shapelib and MapServer (.qix), which GDAL reads and writes too. A 16-byte
// header, then the nodes depth first, each followed by its children's subtrees:
//
//   header        offset  size
//   signature          0     3  "SQT"
//   byte order         3     1  1 little-endian, 2 big-endian, 0 the writer's own
//   version            4     1  1
//   flags              5     3  zero
//   record count       8     4
//   depth             12     4  levels of the tree
//
//   node          offset  size
//   subtrees           0     4  bytes of its children's subtrees, which follow the node
//   box                4    32  xMin, yMin, xMax, yMax (doubles)
//   id count          36     4  n
//   ids               40    4n  0-based record numbers
//   child count   40 + 4n    4  0 to 4
//
// Numbers are in the header's byte order. A node holds the records whose boxes lie within its own
// box and within none of its children's; a reader skips a node whose box misses the query, and its
// subtrees with it.
namespace kel::format {

constexpr std::int32_t kQuadTreeHeaderBytes = 16;
constexpr std::int32_t kQuadTreeNodeBytes = 44;  // a node without ids
constexpr int kQuadTreeMaxChildren = 4;
// The deepest tree read: far more levels than doubles can split a box into usefully.
constexpr int kQuadTreeMaxDepth = 64;

// Whether two boxes share a point, edges included.
inline bool boxesMeet(const Box& a, const Box& b) noexcept {
  return a.xMin <= b.xMax && b.xMin <= a.xMax && a.yMin <= b.yMax && b.yMin <= a.yMax;
}

// The records that the index names in the nodes whose boxes meet `box`, ascending, each once:
// a superset of the records whose boxes meet it. The file is streamed node by node; a node whose
// box misses is skipped with its subtrees unread. None when the file is no sound index of a layer
// of `recordCount` records (another count in its header, an id out of range, a subtree past its
// parent's end, a NaN box, more than four children, a tree deeper than kQuadTreeMaxDepth); the
// reporter has heard the file, the offset and why, as an irregularity: the caller tests every
// record instead.
std::optional<std::vector<std::int64_t>> quadTreeCandidates(ReadOnlyFile& file,
                                                            const std::string& path, const Box& box,
                                                            std::int64_t recordCount,
                                                            Reporter& reporter);

// The index of records with these boxes (none for a Null shape, which meets no box), as shapelib
// builds it: the root's box is `extent` (grown to take in any record outside it), each node's
// children are the quarters of its box that overlap a little, a record goes to the deepest node
// whose box holds its own, and the depth grows with the count (at most 12 levels). Written in
// little-endian order.
std::vector<unsigned char> encodeQuadTree(std::span<const std::optional<Box>> boxes, Box extent);

}  // namespace kel::format
