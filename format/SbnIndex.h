#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kel/format/Reporter.h"
#include "kel/format/ShapeRecord.h"
#include "kel/runtime/ReadOnlyFile.h"

// ESRI's spatial index (.sbn), read as it has been described in public: a binary tree over the
// layer's extent scaled to a grid of 0 to 255 on each axis, its nodes' features in bins. Numbers
// are big-endian.
//
//   header              offset  size
//   file code                0     4  9994 (9997 is met too)
//   unknown                  4     4  -400
//   file length             24     4  in 16-bit words
//   record count            28     4
//   extent                  32    32  xMin, yMin, xMax, yMax (doubles); Z and M ranges follow
//   first record           100     4  1
//   node table length      104     4  in 16-bit words
//   node table             108    8n  per node: its first bin's number (0 when it has none) and
//                                     its feature count
//   bins                  then        each an 8-byte header (its number, 2 upwards; its length in
//                                     16-bit words) and at most 100 features of 8 bytes: the
//                                     box's xMin, yMin, xMax, yMax on the grid (a byte each) and
//                                     the 1-based record number
//
// Node 0 is the root, the whole grid; node k's children are 2k + 1 and 2k + 2, its box split at
// mid = 1 + (min + max) / 2 across X on even levels and Y on odd ones: the first child takes
// [mid, max], the second [min, mid - 1]. The node table gives the first nodes, and those after it
// are empty. A node's bins follow one another from its first, as many as hold its features; the
// nodes' bins come in the order of the nodes or depth first (older files).
// ESRI sizes the tree for about eight records a node, from 2 to 24 levels, but has written more
// nodes than that (GDAL 3.6 refuses such a file and walks): the table's length is taken as it is,
// up to the nodes of 24 levels.
namespace kel::format {

constexpr std::int32_t kSbnHeaderBytes = 100;
constexpr int kSbnMaxLevels = 24;
constexpr int kSbnFeaturesPerBin = 100;

// The records that the index names in the nodes whose grid boxes meet `box`, with grid boxes
// that meet it, ascending, each once: every record whose box meets it is among them. The bin
// headers are walked once, to find where each bin lies; only the features of the nodes that meet
// the box are read. None when the file is no sound index of a layer of `recordCount` records
// (another count, a bin out of its place, a bin that is no node's or two nodes', a node whose bins
// hold another count than the table gives, a record number out of range); the reporter has heard
// the file, the offset and why, as an irregularity: the caller tests every record instead.
std::optional<std::vector<std::int64_t>> sbnCandidates(ReadOnlyFile& file, const std::string& path,
                                                       const Box& box, std::int64_t recordCount,
                                                       Reporter& reporter);

}  // namespace kel::format
