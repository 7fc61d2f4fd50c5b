#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "kel/format/Reporter.h"
#include "kel/format/ShapeReader.h"
#include "kel/format/TableReader.h"
#include "kel/runtime/ReadOnlyFile.h"

namespace kel::format {

struct OpenOptions {
  std::string encoding;  // the table's encoding; empty: what the files say
};

// The files of a layer handed in already open (blocks in memory, members of an archive) rather
// than found by a path: each named as the findings are to name it ("nc.zip/nc.shx"), and absent
// when its file is null. The main file is required.
struct LayerSources {
  struct Source {
    std::string name;
    std::unique_ptr<ReadOnlyFile> file;
  };
  Source shp, shx, dbf, prj, cpg;
};

// A shapefile layer opened for reading: its shapes, its table when it has one, its encoding and
// its coordinate system's text. Every file is opened read-only.
class Layer {
 public:
  // The layer by the path of its main file, with or without ".shp" (letter case ignored); the
  // other files are found beside it, their extensions in the main file's letter case first, then
  // in the other; failing both, the one file of the directory whose name matches letter case
  // aside. Null when the main file cannot be read, or a file of the layer is there but is no
  // regular file or is matched by two names that differ only in letter case; the reporter has
  // heard why.
  static std::unique_ptr<Layer> open(std::string_view path, Reporter& reporter,
                                     const OpenOptions& options = {});
  // The layer of the files handed in; everything after the files are found is as above. Its
  // base path is the main file's name without ".shp".
  static std::unique_ptr<Layer> open(LayerSources sources, Reporter& reporter,
                                     const OpenOptions& options = {});

  ShapeReader& shapes() noexcept { return *shapes_; }
  // The shape type that the main file's header gives.
  ShapeType shapeType() const noexcept { return shapes_->type(); }
  // Null when the layer has no table.
  TableReader* table() noexcept { return table_.get(); }
  const TableReader* table() const noexcept { return table_.get(); }
  // The records of the layer: its shapes. A shape past the table's last row has no attributes.
  std::int64_t count() const noexcept { return shapes_->count(); }
  // The table's encoding, or the one it would have.
  const std::string& encoding() const noexcept { return encoding_; }
  // The .prj file's text as it stands; none without one.
  const std::optional<std::string>& projection() const noexcept { return projection_; }
  // The .cpg file's text as it stands; none without one.
  const std::optional<std::string>& codePage() const noexcept { return codePage_; }
  // The path without its extension.
  const std::string& basePath() const noexcept { return base_; }

 private:
  // What both forms share once the files are found. A file absent from `files` is missing when
  // its flag says so, and otherwise opened again by its name, for its reader to say why not.
  static std::unique_ptr<Layer> read(LayerSources files, bool shxMissing, bool dbfMissing,
                                     Reporter& reporter, const OpenOptions& options);

  std::string base_;
  std::unique_ptr<ShapeReader> shapes_;
  std::unique_ptr<TableReader> table_;
  std::string encoding_;
  std::optional<std::string> projection_, codePage_;
};

}  // namespace kel::format
