#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "Layers.h"
#include "Selecting.h"
#include "Tool.h"
#include "kel/archive/Archive.h"
#include "kel/format/Encoding.h"
#include "kel/format/LayerFiles.h"
#include "kel/format/LayerWriter.h"
#include "kel/format/MainFile.h"

namespace kelshp {

namespace {

namespace format = kel::format;
namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: kelshp copy [--encoding NAME] [SELECTION] SRC DST\n"
    "\n"
    "Copies the shapefile SRC to DST record by record through the format engine:\n"
    "every shape type with its Z and M values, null shapes, any number of records.\n"
    "The table keeps its columns as they are (names, type letters, widths and\n"
    "decimals), its language driver mark and each row's bytes, in their encoding; a\n"
    "row marked deleted stays deleted. The .prj and .cpg files are copied as they\n"
    "are; a source without them gives a copy without them, and --encoding gives the\n"
    "copy a .cpg file that names the encoding. A regular source gives\n"
    "the same .shp and .shx files, byte for byte. SRC's files are found whatever\n"
    "the letter case of their names; DST's are named DST.shp, DST.shx, DST.dbf,\n"
    "DST.prj and DST.cpg, the extensions in lower case.\n"
    "\n"
    "A source that is not regular (no .shx, no .dbf, records out of order, fewer rows\n"
    "than shapes) is copied as it reads, each irregularity said on standard error,\n"
    "into a regular file: a shape without a row gets a blank one, and rows without a\n"
    "shape are left out. An error in the source, or a record the copy cannot hold,\n"
    "stops the copy. DST's old files are replaced only when the whole copy is\n"
    "written, all together; on failure they stay as they were. DST may not be SRC\n"
    "itself, under whatever name. Exits 0 when the copy is in place.\n"
    "\n"
    "SRC may be a layer in a zip archive: SRC.zip (its one layer) or\n"
    "SRC.zip/inner/name.shp. A DST ending in .zip is a new archive holding the copy,\n"
    "named as the archive without .zip; it replaces any old one whole.\n"
    "\n"
    "With a selection, DST holds the records and columns it keeps, in SRC's order.\n";

// The files of a layer that a copy reads or writes, in both letter cases.
std::vector<std::string> filesOf(const std::string& stem) {
  std::vector<std::string> files;
  const format::LayerFiles names{stem, false};
  for (std::string_view ext : {".shp", ".shx", ".dbf", ".cpg", ".prj", ".qix", ".sbn", ".sbx"}) {
    files.push_back(names.path(ext));
    files.push_back(names.path(ext, true));
  }
  return files;
}

// The files of the source: those the layer reads, under the names it found them by, and the
// stem's others in both letter cases.
std::vector<std::string> sourceFiles(format::Layer& layer) {
  std::vector<std::string> files = filesOf(layer.basePath());
  files.push_back(layer.shapes().path());
  files.push_back(layer.shapes().indexPath());
  if (layer.table() != nullptr) files.push_back(layer.table()->path());
  return files;
}

// A file of the source that the copy would write or remove, by another name as well: another
// path to it, a link, or a name that differs in letter case on a file system that ignores it.
// Both names, or none.
std::optional<std::pair<std::string, std::string>> sourceWrittenOver(
    const std::vector<std::string>& source, const std::string& target) {
  for (const std::string& read : source) {
    std::error_code error;
    if (!fs::exists(read, error)) continue;
    for (const std::string& written : filesOf(target)) {
      if (fs::equivalent(read, written, error)) return std::pair(read, written);
    }
  }
  return std::nullopt;
}

// The most bytes a copied file may take: what readers of signed 32-bit offsets read, unless a
// source file is larger already.
std::uint64_t sizeLimit(const std::vector<std::string>& source) {
  for (const std::string& path : source) {
    std::error_code error;
    std::uintmax_t size = fs::file_size(path, error);
    if (!error && size > format::kTwoGigabytes) return format::kFourGigabytes;
  }
  return format::kTwoGigabytes;
}

}  // namespace

int runCopy(const Args& args) {
  Arguments a = parseArguments(args, withSelection({}), 2, 2, "SRC DST");
  if (a.help) {
    return std::fputs(kUsage, stdout), std::fputs(kSelectionUsage, stdout),
           std::fputs(kEncodingHelp, stdout), 0;
  }
  const format::Selection selection = selectionOf(a);
  const format::OpenOptions read = openOptions(a);
  ShapefilePath source = ShapefilePath::parse(a.operands[0]);
  ShapefilePath target = ShapefilePath::parse(a.operands[1]);
  Warnings warnings(true);
  std::unique_ptr<format::Layer> layer = openLayer(source, warnings, read);
  if (!layer || warnings.errors() > 0) return 1;
  const std::vector<std::string> sourcePaths = sourceFiles(*layer);
  // Into an archive, the copy is written in a directory of its own and packed when whole.
  std::optional<kel::archive::ArchiveDraft> draft;
  std::string targetShp = target.file(".shp");
  if (kel::archive::endsInZip(a.operands[1])) {
    try {
      targetShp = draft.emplace(target.stem).layerPath();
    } catch (const format::WriteError& e) {
      return fail(e.what());
    }
  } else if (auto same = sourceWrittenOver(sourcePaths, target.stem)) {
    return fail(same->second + ": is the source's own file (" + same->first +
                "); nothing was written");
  }

  format::SelectedRecords records(*layer, selection);
  format::TableLayout table;
  format::TableReader* rows = layer->table();
  if (rows != nullptr) {
    for (std::size_t c : records.columns()) table.columns.push_back(rows->columns()[c].descriptor);
    table.languageDriver = rows->header().languageDriver;
  }
  // The row's bytes, its chosen columns' only when a part of them is chosen.
  const bool allColumns = rows == nullptr || records.columns().size() == rows->columns().size();
  std::string chosen;
  auto rowOf = [&](const format::RowView& row) {
    if (allColumns) return row;
    chosen.clear();
    for (std::size_t c : records.columns()) chosen += row.field(rows->columns()[c]);
    return format::RowView{row.index, row.deleted, chosen};
  };
  table.codePage = layer->codePage();
  if (!read.encoding.empty()) table.codePage = format::codePageFileWord(read.encoding);
  format::ShapeReader& shapes = layer->shapes();
  format::WriteOptions options;
  options.projection = layer->projection();
  options.maxFileBytes = sizeLimit(sourcePaths);
  options.keepRanges = {{shapes.header().zMin, shapes.header().zMax},
                        {shapes.header().mMin, shapes.header().mMax}};
  options.reporter = &warnings;
  auto irregular = [&](std::int64_t offset, std::int64_t record, std::string sentence) {
    warnings.report(
        {format::Severity::Irregularity, shapes.path(), offset, record, std::move(sentence)});
  };
  try {
    format::LayerWriter writer(targetShp, shapes.type(), table, options);
    // Where a regular file has the next record, and where the records read end.
    std::int64_t next = format::kHeaderBytes, end = next, last = -1;
    while (records.next()) {
      const std::int64_t i = records.index();
      if (warnings.errors() > 0) return 1;
      writer.add(records.shape(), records.row() ? rowOf(*records.row()) : format::RowView{});
      // The copy's records lie back to back in the order read, each as long as its fields.
      const format::ShapeReader::Place& from = shapes.place();
      if (i == last + 1 && from.offset != next) {
        irregular(from.offset, i,
                  "the record lies here, not at byte " + std::to_string(next) +
                      " behind the one before it");
      }
      if (from.contentLength != writer.lastPlaced().contentLength) {
        irregular(from.offset, i,
                  "the record holds " + std::to_string(from.contentLength) +
                      " bytes of contents; the copy's holds " +
                      std::to_string(writer.lastPlaced().contentLength));
      }
      next = from.offset + format::kRecordHeaderBytes + from.contentLength;
      end = std::max(end, next);
      last = i;
    }
    std::error_code error;
    std::uintmax_t size = fs::file_size(shapes.path(), error);
    if (selection.all() && shapes.indexed() && !error && size > static_cast<std::uintmax_t>(end)) {
      irregular(end, -1,
                std::to_string(size - static_cast<std::uintmax_t>(end)) +
                    " bytes behind the records that the index gives are left out");
    }
    writer.close();
    if (draft) draft->commit();
  } catch (const format::WriteError& e) {
    return fail(e.what());
  }
  return 0;
}

}  // namespace kelshp
