#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kel/format/Layer.h"

// Layers inside zip archives: read from the archive's members, decompressed into memory and never
// to disk, and written as a new archive. The zip format itself is libzip's; a build without it
// knows an archive's path still, and refuses it saying so.
namespace kel::archive {

// Whether this build reads and writes zip archives (it was built with libzip).
extern const bool kAvailable;

// The most bytes a member may state that it holds, and the most it may state against the bytes
// it takes compressed (beyond a floor, under which any ratio is allowed): a member beyond either
// is refused before anything of it is decompressed. A member that inflates to more than it
// states is refused as soon as it does, one byte past it.
constexpr std::int64_t kMemberLimit = std::int64_t{1} << 30;
constexpr std::int64_t kRatioLimit = 1000;
constexpr std::int64_t kRatioFloor = std::int64_t{1} << 20;

// A path through an archive: "data/nc.zip" (the archive's one layer) or
// "data/nc.zip/inner/nc.shp" (a layer in it, with or without ".shp").
struct ArchivePath {
  std::string archive;  // the archive's path
  std::string member;   // the layer's main file inside it; empty for its one layer
};

// Whether the path ends in ".zip", letter case ignored.
bool endsInZip(std::string_view path);
// The archive a path goes through: the first of its components that ends in ".zip" and is not a
// directory; none when no component is such.
std::optional<ArchivePath> archiveOf(std::string_view path);

// The layer the path names, inside an archive or not (then as format::Layer::open finds it).
// Null when it cannot be read; the reporter has heard why.
std::unique_ptr<format::Layer> openLayer(std::string_view path, format::Reporter& reporter,
                                         const format::OpenOptions& options = {});

// A layer to be written as a new archive at `zipPath`: the layer is written at layerPath(), in
// a directory of its own beside the archive, named as the archive without ".zip"; commit() packs
// every file written in that directory (a layer's .shp, .shx, .dbf, .prj, .cpg; several layers'
// when the writer made several) into a new archive, which replaces any old one
// whole. The directory is removed with this. Raises format::WriteError when it cannot.
class ArchiveDraft {
 public:
  explicit ArchiveDraft(std::string zipPath);
  ~ArchiveDraft();
  ArchiveDraft(const ArchiveDraft&) = delete;
  ArchiveDraft& operator=(const ArchiveDraft&) = delete;

  // The path of the layer's main file, with ".shp".
  const std::string& layerPath() const noexcept { return layerPath_; }
  void commit();

 private:
  std::string zipPath_, directory_, layerPath_;
};

}  // namespace kel::archive
