#include "kel/format/SbnIndex.h"

#include <algorithm>
#include <cmath>

#include "kel/format/Endian.h"

namespace kel::format {

namespace {

constexpr std::int32_t kFileCodes[] = {9994, 9997};
constexpr std::int32_t kUnknownWord = -400;
constexpr std::int32_t kNodeTableAt = kSbnHeaderBytes + 8;
constexpr int kGridMax = 255;

struct Bin {
  std::int64_t offset;  // of its header
  std::int32_t features;
  std::int64_t node;  // whose it is; -1 before one takes it
};

struct Node {
  std::int32_t firstBin = 0, features = 0, bins = 0;
  std::int64_t offset(const std::vector<Bin>& bins) const {
    return bins[static_cast<std::size_t>(firstBin) - 2].offset;
  }
};

struct GridBox {
  int xMin, yMin, xMax, yMax;
  bool meets(const GridBox& o) const noexcept {
    return xMin <= o.xMax && o.xMin <= xMax && yMin <= o.yMax && o.yMin <= yMax;
  }
};

// A coordinate on the grid, a step wider than the scaling gives, so that no rounding of the
// writer's leaves out a record that meets the box.
int onGrid(double v, double lo, double extent, bool upper) {
  double g = std::clamp((v - lo) / extent * kGridMax, -2.0, kGridMax + 2.0);
  return std::clamp(
      upper ? static_cast<int>(std::ceil(g)) + 1 : static_cast<int>(std::floor(g)) - 1, 0,
      kGridMax);
}

class SbnReader {
 public:
  SbnReader(ReadOnlyFile& file, const std::string& path, Reporter& reporter)
      : file_(file), path_(path), reporter_(reporter) {}

  std::optional<std::vector<std::int64_t>> run(const Box& query, std::int64_t count);

 private:
  bool refuse(std::int64_t offset, std::string sentence) {
    tell(reporter_, Severity::Irregularity, path_, offset, -1,
         "the spatial index is not read: " + std::move(sentence));
    return false;
  }
  bool bytes(std::int64_t offset, std::size_t n, unsigned char* out, const char* inside) {
    return file_.copy(offset, n, out) ||
           refuse(offset, std::string("the file ends inside ") + inside);
  }
  bool readNodes(std::int64_t count);
  bool findBins();
  bool readNode(std::size_t k, const GridBox& query, std::int64_t count, std::vector<bool>& named);

  ReadOnlyFile& file_;
  const std::string& path_;
  Reporter& reporter_;
  std::vector<Node> nodes_;
  std::vector<Bin> bins_;  // by number, from 2
};

bool SbnReader::readNodes(std::int64_t count) {
  const std::int64_t most = (std::int64_t{1} << kSbnMaxLevels) - 1;
  unsigned char head[8];
  if (!bytes(kSbnHeaderBytes, 8, head, "the node table's header")) return false;
  if (loadBE32(head) != 1) return refuse(kSbnHeaderBytes, "the node table is not record 1");
  const std::int64_t length = std::int64_t{loadBE32(head + 4)} * 2;
  if (length < 0 || length % 8 != 0 || length / 8 > most) {
    return refuse(kSbnHeaderBytes + 4, "a node table of " + std::to_string(length) +
                                           " bytes is not 8 bytes for each of at most " +
                                           std::to_string(most) + " nodes");
  }
  if (length > file_.size() - kNodeTableAt) {
    return refuse(kSbnHeaderBytes + 4, "the node table runs past the end of the file");
  }
  std::vector<unsigned char> table(static_cast<std::size_t>(length));
  if (!bytes(kNodeTableAt, table.size(), table.data(), "the node table")) return false;
  nodes_.resize(table.size() / 8);
  for (std::size_t k = 0; k < nodes_.size(); ++k) {
    Node& n = nodes_[k];
    n.firstBin = loadBE32(table.data() + 8 * k);
    n.features = loadBE32(table.data() + 8 * k + 4);
    const std::int64_t at = kNodeTableAt + 8 * static_cast<std::int64_t>(k);
    if (n.features < 0 || n.features > count || (n.firstBin != 0) != (n.features > 0) ||
        (n.firstBin != 0 && n.firstBin < 2)) {
      return refuse(at, "node " + std::to_string(k) + " has " + std::to_string(n.features) +
                            " features from bin " + std::to_string(n.firstBin) +
                            ", which a layer of " + std::to_string(count) + " records cannot have");
    }
  }
  return true;
}

// Walks the bin headers once, for where each bin lies, and gives each node the bins from its
// first that hold its features, each bin to one node.
bool SbnReader::findBins() {
  const std::int64_t size = file_.size();
  std::int64_t at = kNodeTableAt + 8 * static_cast<std::int64_t>(nodes_.size());
  for (std::int64_t id = 2; at < size; ++id) {
    unsigned char head[8];
    if (!bytes(at, 8, head, "a bin's header")) return false;
    if (loadBE32(head) != id) {
      return refuse(at, "bin " + std::to_string(loadBE32(head)) + " comes where bin " +
                            std::to_string(id) + " belongs");
    }
    const std::int64_t length = std::int64_t{loadBE32(head + 4)} * 2;
    if (length <= 0 || length % 8 != 0 || length > 8 * kSbnFeaturesPerBin) {
      return refuse(at + 4, "bin " + std::to_string(id) + " is " + std::to_string(length) +
                                " bytes long, not 8 for each of 1 to 100 features");
    }
    if (length > size - at - 8) {
      return refuse(at, "bin " + std::to_string(id) + " runs past the end");
    }
    bins_.push_back({at, static_cast<std::int32_t>(length / 8), -1});
    at += 8 + length;
  }
  for (std::size_t k = 0; k < nodes_.size(); ++k) {
    Node& n = nodes_[k];
    if (n.firstBin == 0) continue;
    std::int64_t held = 0;
    for (std::size_t b = static_cast<std::size_t>(n.firstBin) - 2; held < n.features; ++b) {
      if (b >= bins_.size()) {
        return refuse(size, "node " + std::to_string(k) + "'s bins end before its " +
                                std::to_string(n.features) + " features");
      }
      if (bins_[b].node >= 0) {
        return refuse(bins_[b].offset, "bin " + std::to_string(b + 2) + " belongs to node " +
                                           std::to_string(bins_[b].node) + " and to node " +
                                           std::to_string(k));
      }
      bins_[b].node = static_cast<std::int64_t>(k);
      held += bins_[b].features;
      ++n.bins;
    }
    if (held > n.features) {
      return refuse(n.offset(bins_), "node " + std::to_string(k) + "'s bins hold " +
                                         std::to_string(held) + " features, not the " +
                                         std::to_string(n.features) + " the node table gives");
    }
  }
  for (std::size_t b = 0; b < bins_.size(); ++b) {
    if (bins_[b].node < 0) {
      return refuse(bins_[b].offset, "bin " + std::to_string(b + 2) + " is no node's");
    }
  }
  return true;
}

bool SbnReader::readNode(std::size_t k, const GridBox& query, std::int64_t count,
                         std::vector<bool>& named) {
  const Node& n = nodes_[k];
  unsigned char features[8 * kSbnFeaturesPerBin];
  for (std::int32_t i = 0; i < n.bins; ++i) {
    const Bin& bin = bins_[static_cast<std::size_t>(n.firstBin - 2 + i)];
    const std::size_t length = 8 * static_cast<std::size_t>(bin.features);
    if (!bytes(bin.offset + 8, length, features, "a bin")) return false;
    for (std::size_t f = 0; f < length; f += 8) {
      const unsigned char* p = features + f;
      const std::int32_t record = loadBE32(p + 4);
      if (record < 1 || record > count) {
        return refuse(bin.offset + 8 + static_cast<std::int64_t>(f) + 4,
                      "record " + std::to_string(record) + " is none of the layer's " +
                          std::to_string(count));
      }
      if (query.meets({p[0], p[1], p[2], p[3]})) named[static_cast<std::size_t>(record - 1)] = true;
    }
  }
  return true;
}

std::optional<std::vector<std::int64_t>> SbnReader::run(const Box& query, std::int64_t count) {
  unsigned char header[kSbnHeaderBytes];
  if (!file_.copy(0, sizeof header, header) ||
      std::find(std::begin(kFileCodes), std::end(kFileCodes), loadBE32(header)) ==
          std::end(kFileCodes) ||
      loadBE32(header + 4) != kUnknownWord) {
    refuse(0, "it has no header of ESRI's spatial index (9994, -400)");
    return std::nullopt;
  }
  if (std::int32_t indexed = loadBE32(header + 28); indexed != count) {
    refuse(28, "it indexes " + std::to_string(indexed) + " records, and the layer has " +
                   std::to_string(count));
    return std::nullopt;
  }
  const Box extent{loadBE<double>(header + 32), loadBE<double>(header + 40),
                   loadBE<double>(header + 48), loadBE<double>(header + 56)};
  const double width = extent.xMax - extent.xMin, height = extent.yMax - extent.yMin;
  if (!std::isfinite(width) || !std::isfinite(height) || width < 0 || height < 0) {
    refuse(32, "its extent is no box");
    return std::nullopt;
  }
  std::vector<std::int64_t> found;
  if (count == 0) return found;
  if (!readNodes(count) || !findBins()) return std::nullopt;
  if (query.xMax < extent.xMin || query.xMin > extent.xMax || query.yMax < extent.yMin ||
      query.yMin > extent.yMax) {
    return found;
  }
  const GridBox grid{width == 0 ? 0 : onGrid(query.xMin, extent.xMin, width, false),
                     height == 0 ? 0 : onGrid(query.yMin, extent.yMin, height, false),
                     width == 0 ? kGridMax : onGrid(query.xMax, extent.xMin, width, true),
                     height == 0 ? kGridMax : onGrid(query.yMax, extent.yMin, height, true)};
  struct Visit {
    std::size_t node;
    int level;
    GridBox box;
  };
  std::vector<Visit> stack = {{0, 0, {0, 0, kGridMax, kGridMax}}};
  std::vector<bool> named(static_cast<std::size_t>(count));
  while (!stack.empty()) {
    const Visit v = stack.back();
    stack.pop_back();
    if (v.node >= nodes_.size()) continue;  // no node past the table holds a record
    if (nodes_[v.node].bins > 0 && !readNode(v.node, grid, count, named)) return std::nullopt;
    GridBox upper = v.box, lower = v.box;
    if (v.level % 2 == 0) {
      upper.xMin = 1 + (v.box.xMin + v.box.xMax) / 2;
      lower.xMax = upper.xMin - 1;
    } else {
      upper.yMin = 1 + (v.box.yMin + v.box.yMax) / 2;
      lower.yMax = upper.yMin - 1;
    }
    // A box one cell wide has no halves.
    if (upper.xMin <= upper.xMax && upper.yMin <= upper.yMax && upper.meets(grid)) {
      stack.push_back({2 * v.node + 1, v.level + 1, upper});
    }
    if (lower.xMin <= lower.xMax && lower.yMin <= lower.yMax && lower.meets(grid)) {
      stack.push_back({2 * v.node + 2, v.level + 1, lower});
    }
  }
  for (std::size_t i = 0; i < named.size(); ++i) {
    if (named[i]) found.push_back(static_cast<std::int64_t>(i));
  }
  return found;
}

}  // namespace

std::optional<std::vector<std::int64_t>> sbnCandidates(ReadOnlyFile& file, const std::string& path,
                                                       const Box& box, std::int64_t recordCount,
                                                       Reporter& reporter) {
  return SbnReader(file, path, reporter).run(box, recordCount);
}

}  // namespace kel::format
