#include "kel/format/QuadTree.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>

#include "kel/format/Endian.h"

namespace kel::format {

namespace {

constexpr char kSignature[3] = {'S', 'Q', 'T'};
constexpr unsigned char kLittleEndian = 1, kBigEndian = 2, kVersion = 1;
// How far each half of a split box reaches: past the middle, so that a record on the line goes
// into a child rather than staying at the parent.
constexpr double kSplitRatio = 0.55;
// Levels enough for a large layer: a deeper tree costs memory and finds no fewer records.
constexpr int kMostLevelsBuilt = 12;
// Ids read at a time.
constexpr std::size_t kIdChunk = 4096;

// Numbers in the index's byte order.
struct Order {
  bool swap = false;
  std::int32_t int32(const unsigned char* at) const noexcept {
    std::int32_t v = loadLE<std::int32_t>(at);
    return swap ? byteSwapped(v) : v;
  }
  double real(const unsigned char* at) const noexcept {
    double v = loadLE<double>(at);
    return swap ? byteSwapped(v) : v;
  }
};

class TreeReader {
 public:
  TreeReader(ReadOnlyFile& file, const std::string& path, Reporter& reporter)
      : file_(file), path_(path), reporter_(reporter) {}

  std::optional<std::vector<std::int64_t>> run(const Box& query, std::int64_t count);

 private:
  bool refuse(std::int64_t offset, std::string sentence) {
    tell(reporter_, Severity::Irregularity, path_, offset, -1,
         "the spatial index is not read: " + std::move(sentence));
    return false;
  }
  bool bytes(std::int64_t offset, std::size_t n, unsigned char* out) {
    return file_.copy(offset, n, out) || refuse(offset, "the file ends inside a node");
  }

  ReadOnlyFile& file_;
  const std::string& path_;
  Reporter& reporter_;
  Order order_;
};

std::optional<std::vector<std::int64_t>> TreeReader::run(const Box& query, std::int64_t count) {
  unsigned char header[kQuadTreeHeaderBytes];
  if (!file_.copy(0, sizeof header, header) || std::memcmp(header, kSignature, 3) != 0) {
    refuse(0, "it has no quadtree header (\"SQT\")");
    return std::nullopt;
  }
  if (header[3] > kBigEndian) {
    refuse(3, "byte order " + std::to_string(header[3]) + " is none of 0, 1 and 2");
    return std::nullopt;
  }
  std::endian order = header[3] == kLittleEndian ? std::endian::little
                      : header[3] == kBigEndian  ? std::endian::big
                                                 : std::endian::native;
  order_.swap = order != std::endian::native;
  if (header[4] != kVersion) {
    refuse(4, "version " + std::to_string(header[4]) + " is not 1");
    return std::nullopt;
  }
  // An index of another count describes another generation of the layer.
  if (std::int32_t indexed = order_.int32(header + 8); indexed != count) {
    refuse(8, "it indexes " + std::to_string(indexed) + " records, and the layer has " +
                  std::to_string(count));
    return std::nullopt;
  }

  struct Frame {
    std::int64_t end;  // where the node's subtrees end
    std::int32_t childrenLeft;
  };
  std::vector<Frame> stack;
  std::vector<bool> named(static_cast<std::size_t>(count));
  std::vector<unsigned char> ids;
  const std::int64_t size = file_.size();
  std::int64_t at = kQuadTreeHeaderBytes;
  for (;;) {
    const std::int64_t limit = stack.empty() ? size : stack.back().end;
    unsigned char node[40];
    if (!bytes(at, sizeof node, node)) return std::nullopt;
    std::int32_t subtrees = order_.int32(node);
    Box b{order_.real(node + 4), order_.real(node + 12), order_.real(node + 20),
          order_.real(node + 28)};
    std::int32_t n = order_.int32(node + 36);
    if (std::isnan(b.xMin) || std::isnan(b.yMin) || std::isnan(b.xMax) || std::isnan(b.yMax)) {
      refuse(at + 4, "a node's box is not a number");
      return std::nullopt;
    }
    if (n < 0 || subtrees < 0 ||
        (limit - at - kQuadTreeNodeBytes) / 4 < static_cast<std::int64_t>(n)) {
      refuse(at, "a node's " + std::to_string(n) + " ids run past the end of " +
                     (stack.empty() ? "the file" : "its parent's subtrees"));
      return std::nullopt;
    }
    const std::int64_t idsAt = at + 40, fixedEnd = idsAt + 4 * std::int64_t{n} + 4;
    unsigned char word[4];
    if (!bytes(fixedEnd - 4, 4, word)) return std::nullopt;
    std::int32_t children = order_.int32(word);
    if (children < 0 || children > kQuadTreeMaxChildren) {
      refuse(fixedEnd - 4, "a node has " + std::to_string(children) + " children; at most 4");
      return std::nullopt;
    }
    if (limit - fixedEnd < subtrees || (children == 0) != (subtrees == 0) ||
        subtrees < std::int64_t{children} * kQuadTreeNodeBytes) {
      refuse(at,
             "a node's " + std::to_string(children) + " children take " + std::to_string(subtrees) +
                 " bytes, which " +
                 (limit - fixedEnd < subtrees ? "run past the end of its parent" : "cannot be"));
      return std::nullopt;
    }
    const bool meets = boxesMeet(b, query);
    if (meets) {
      for (std::int32_t done = 0; done < n;) {
        std::size_t k = std::min<std::size_t>(kIdChunk, static_cast<std::size_t>(n - done));
        ids.resize(4 * k);
        if (!bytes(idsAt + 4 * std::int64_t{done}, ids.size(), ids.data())) return std::nullopt;
        for (std::size_t i = 0; i < k; ++i) {
          std::int32_t id = order_.int32(ids.data() + 4 * i);
          if (id < 0 || id >= count) {
            refuse(idsAt + 4 * (std::int64_t{done} + static_cast<std::int64_t>(i)),
                   "id " + std::to_string(id) + " names no record of the " + std::to_string(count));
            return std::nullopt;
          }
          named[static_cast<std::size_t>(id)] = true;
        }
        done += static_cast<std::int32_t>(k);
      }
    }
    if (meets && children > 0) {
      if (stack.size() == kQuadTreeMaxDepth) {
        refuse(at, "the tree is deeper than " + std::to_string(kQuadTreeMaxDepth) + " levels");
        return std::nullopt;
      }
      stack.push_back({fixedEnd + subtrees, children});
      at = fixedEnd;
      continue;
    }
    // The node is done, its subtrees skipped: so are the parents whose last child it was.
    at = fixedEnd + subtrees;
    while (!stack.empty() && --stack.back().childrenLeft == 0) {
      if (at != stack.back().end) {
        refuse(at, "a node's children end " + std::to_string(stack.back().end - at) +
                       " bytes before the end that the node gives");
        return std::nullopt;
      }
      stack.pop_back();
    }
    if (stack.empty()) break;
    if (at >= stack.back().end) {
      refuse(at, "a node has fewer children than it says");
      return std::nullopt;
    }
  }
  if (at != size) {
    refuse(at, std::to_string(size - at) + " bytes follow the tree");
    return std::nullopt;
  }
  std::vector<std::int64_t> found;
  for (std::size_t i = 0; i < named.size(); ++i) {
    if (named[i]) found.push_back(static_cast<std::int64_t>(i));
  }
  return found;
}

// A node of a tree being built.
struct Node {
  Box box;
  std::vector<std::int32_t> ids;
  std::vector<std::unique_ptr<Node>> children;
};

bool holds(const Box& outer, const Box& inner) noexcept {
  return inner.xMin >= outer.xMin && inner.yMin >= outer.yMin && inner.xMax <= outer.xMax &&
         inner.yMax <= outer.yMax;
}

// The two halves of a box across its longer side, each reaching a little past the middle.
void split(const Box& box, Box& first, Box& second) {
  first = second = box;
  double dx = box.xMax - box.xMin, dy = box.yMax - box.yMin;
  if (dx > dy) {
    first.xMax = box.xMin + dx * kSplitRatio;
    second.xMin = box.xMax - dx * kSplitRatio;
  } else {
    first.yMax = box.yMin + dy * kSplitRatio;
    second.yMin = box.yMax - dy * kSplitRatio;
  }
}

void insert(Node& node, std::int32_t id, const Box& box, int levels) {
  if (levels > 1 && node.children.empty()) {
    Box halves[2], quarters[4];
    split(node.box, halves[0], halves[1]);
    split(halves[0], quarters[0], quarters[1]);
    split(halves[1], quarters[2], quarters[3]);
    if (std::any_of(std::begin(quarters), std::end(quarters),
                    [&](const Box& q) { return holds(q, box); })) {
      for (const Box& q : quarters) {
        node.children.push_back(std::make_unique<Node>());
        node.children.back()->box = q;
      }
    }
  }
  if (levels > 1) {
    for (auto& child : node.children) {
      if (holds(child->box, box)) return insert(*child, id, box, levels - 1);
    }
  }
  node.ids.push_back(id);
}

// Drops the children that hold nothing, the last one taking an empty one's place, and puts a lone
// child in the place of a node that holds no record; whether the node itself holds nothing.
bool trim(Node& node) {
  for (std::size_t i = 0; i < node.children.size();) {
    if (trim(*node.children[i])) {
      node.children[i] = std::move(node.children.back());
      node.children.pop_back();
    } else {
      ++i;
    }
  }
  if (node.ids.empty() && node.children.size() == 1) {
    std::unique_ptr<Node> child = std::move(node.children.front());
    node = std::move(*child);
  }
  return node.children.empty() && node.ids.empty();
}

std::uint64_t subtreeBytes(const Node& node) {
  std::uint64_t total = 0;
  for (const auto& child : node.children) {
    total += kQuadTreeNodeBytes + 4 * child->ids.size() + subtreeBytes(*child);
  }
  return total;
}

void write(const Node& node, std::vector<unsigned char>& out) {
  std::size_t at = out.size();
  out.resize(at + kQuadTreeNodeBytes + 4 * node.ids.size());
  unsigned char* p = out.data() + at;
  storeLE(p, static_cast<std::int32_t>(subtreeBytes(node)));
  storeLE(p + 4, node.box.xMin);
  storeLE(p + 12, node.box.yMin);
  storeLE(p + 20, node.box.xMax);
  storeLE(p + 28, node.box.yMax);
  storeLE(p + 36, static_cast<std::int32_t>(node.ids.size()));
  storeLEArray(p + 40, node.ids.data(), node.ids.size());
  storeLE(p + 40 + 4 * node.ids.size(), static_cast<std::int32_t>(node.children.size()));
  for (const auto& child : node.children) write(*child, out);
}

}  // namespace

std::optional<std::vector<std::int64_t>> quadTreeCandidates(ReadOnlyFile& file,
                                                            const std::string& path, const Box& box,
                                                            std::int64_t recordCount,
                                                            Reporter& reporter) {
  return TreeReader(file, path, reporter).run(box, recordCount);
}

std::vector<unsigned char> encodeQuadTree(std::span<const std::optional<Box>> boxes, Box extent) {
  for (const std::optional<Box>& b : boxes) {
    if (!b) continue;
    extent = {std::min(extent.xMin, b->xMin), std::min(extent.yMin, b->yMin),
              std::max(extent.xMax, b->xMax), std::max(extent.yMax, b->yMax)};
  }
  int levels = 0;
  for (std::uint64_t nodes = 1; nodes * 4 < boxes.size(); nodes *= 2) ++levels;
  levels = std::min(levels, kMostLevelsBuilt);
  Node root;
  root.box = extent;
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    if (boxes[i]) insert(root, static_cast<std::int32_t>(i), *boxes[i], levels);
  }
  trim(root);
  std::vector<unsigned char> out(kQuadTreeHeaderBytes);
  std::memcpy(out.data(), kSignature, 3);
  out[3] = kLittleEndian;
  out[4] = kVersion;
  storeLE(out.data() + 8, static_cast<std::int32_t>(boxes.size()));
  storeLE(out.data() + 12, static_cast<std::int32_t>(levels));
  write(root, out);
  return out;
}

}  // namespace kel::format
