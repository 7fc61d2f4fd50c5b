#include "kel/format/SpatialIndex.h"

#include "kel/format/LayerFiles.h"
#include "kel/format/LayerWriter.h"
#include "kel/format/QuadTree.h"
#include "kel/format/SbnIndex.h"
#include "kel/runtime/AtomicFileSet.h"
#include "kel/runtime/Error.h"
#include "kel/runtime/SystemFileSet.h"
#include "kel/runtime/Text.h"

namespace kel::format {

namespace {

// The file of an index beside the layer, in the main file's letter case first; none without one.
std::unique_ptr<ReadOnlyFile> openBeside(Layer& layer, const char* extension, std::string& path) {
  LayerFiles files = LayerFiles::of(layer.shapes().path());
  for (bool other : {false, true}) {
    path = files.path(extension, other);
    ReadOnlyFile::OpenError why;
    if (auto file = ReadOnlyFile::open(path, why)) return file;
  }
  return nullptr;
}

[[noreturn]] void refuse(std::string file, std::int64_t record, std::string sentence) {
  Finding f;
  f.file = std::move(file);
  f.record = record;
  f.sentence = std::move(sentence);
  throw WriteError(std::move(f));
}

}  // namespace

std::optional<std::vector<std::int64_t>> indexedCandidates(Layer& layer, const Box& box,
                                                           Reporter& reporter) {
  std::string path;
  // A refused .qix has been told; an .sbn beside it may still serve.
  if (std::unique_ptr<ReadOnlyFile> file = openBeside(layer, ".qix", path)) {
    if (auto candidates = quadTreeCandidates(*file, path, box, layer.count(), reporter)) {
      return candidates;
    }
  }
  if (std::unique_ptr<ReadOnlyFile> file = openBeside(layer, ".sbn", path)) {
    return sbnCandidates(*file, path, box, layer.count(), reporter);
  }
  return std::nullopt;
}

void writeQuadTreeIndex(Layer& layer) {
  ShapeReader& shapes = layer.shapes();
  std::vector<std::optional<Box>> boxes(static_cast<std::size_t>(shapes.count()));
  ShapeView view;
  for (std::int64_t i = 0; i < shapes.count(); ++i) {
    if (!shapes.read(i, view)) {
      refuse(shapes.path(), i, "the record cannot be read, and an index needs its box");
    }
    if (view.type != ShapeType::Null) boxes[static_cast<std::size_t>(i)] = view.box;
  }
  const MainHeader& h = shapes.header();
  std::vector<unsigned char> bytes = encodeQuadTree(boxes, {h.xMin, h.yMin, h.xMax, h.yMax});
  const LayerFiles files = LayerFiles::of(shapes.path());
  try {
    AtomicFileSet set;
    set.keepRecord(AtomicFileSet::recordFor(files.base));
    set.write(set.add(files.path(".qix")), 0, bytes.data(), bytes.size());
    // The same index in the other letter case is the old one: it goes with the commit.
    std::vector<std::string> stale;
    if (systemfileset::identityAt(files.path(".qix")) !=
        systemfileset::identityAt(files.path(".qix", true))) {
      stale.push_back(files.path(".qix", true));
    }
    set.commit(stale);
  } catch (const Error& e) {
    refuse(files.path(".qix"), -1, toUtf8(e.description()));
  }
}

}  // namespace kel::format
