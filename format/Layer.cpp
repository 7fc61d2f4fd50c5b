#include "kel/format/Layer.h"

#include "kel/format/Encoding.h"
#include "kel/format/LayerFiles.h"
#include "kel/runtime/AtomicFileSet.h"
#include "kel/runtime/ReadOnlyFile.h"
#include "kel/runtime/Text.h"

namespace kel::format {

namespace {

// The file beside the main file with that extension (".shx"), opened when it can be: in the main
// file's letter case first, then in the other; the first spelling when neither is there.
struct Sibling {
  std::string path;
  std::unique_ptr<ReadOnlyFile> file;  // null when missing or not to be opened
  bool missing = true;
};
Sibling sibling(const LayerFiles& files, std::string_view ext) {
  std::string first = files.path(ext), second = files.path(ext, true);
  for (const std::string* path : {&first, &second}) {
    ReadOnlyFile::OpenError why;
    std::unique_ptr<ReadOnlyFile> f = ReadOnlyFile::open(*path, why);
    if (f || !why.missing) return {*path, std::move(f), false};
  }
  return {first, nullptr, true};
}

// The whole of a file, or none when it is missing or unreadable.
std::optional<std::string> wholeFile(const Sibling& s) {
  if (!s.file) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(s.file->size()), '\0');
  if (!s.file->copy(0, bytes.size(), bytes.data())) return std::nullopt;
  return bytes;
}

// Puts right the files of a replacement that a process now gone left half done, saying so; false
// when they cannot be put right, and so are not to be read. A replacement under way in a live
// process is waited for, for a little while.
bool putRight(const std::string& path, Reporter& reporter) {
  const std::string record = AtomicFileSet::recordFor(LayerFiles::of(path).base);
  try {
    switch (AtomicFileSet::recoverWaiting(record, 2.0)) {
      case AtomicFileSet::Recovered::Nothing:
        return true;
      case AtomicFileSet::Recovered::Busy:
        reporter.report({Severity::Irregularity, record, -1, -1,
                         "another process is replacing the layer's files while they are read"});
        return true;
      case AtomicFileSet::Recovered::Back:
        reporter.report({Severity::Irregularity, record, -1, -1,
                         "a replacement of the layer was cut short; its old files were put back"});
        return true;
      case AtomicFileSet::Recovered::Forward:
        reporter.report({Severity::Irregularity, record, -1, -1,
                         "a replacement of the layer was cut short after its new files were in "
                         "place; the old ones left were removed"});
        return true;
    }
  } catch (const Error& e) {
    reporter.report({Severity::Error, record, -1, -1,
                     "a replacement of the layer was cut short and its files are mixed: " +
                         toUtf8(e.description())});
  }
  return false;
}

}  // namespace

std::unique_ptr<Layer> Layer::open(std::string_view path, Reporter& reporter,
                                   const OpenOptions& options) {
  std::string main(path);
  if (!putRight(main, reporter)) return nullptr;
  const LayerFiles files = LayerFiles::of(main);
  std::unique_ptr<ReadOnlyFile> mainFile;
  if (!LayerFiles::endsInShp(main)) {
    Sibling shp = sibling(files, ".shp");
    main = std::move(shp.path);
    mainFile = std::move(shp.file);
  }
  auto layer = std::make_unique<Layer>();
  layer->base_ = files.base;
  Sibling shx = sibling(files, ".shx");
  layer->shapes_ =
      ShapeReader::open(main, shx.path, reporter, std::move(mainFile), std::move(shx.file));
  if (!layer->shapes_) return nullptr;

  layer->projection_ = wholeFile(sibling(files, ".prj"));
  layer->codePage_ = wholeFile(sibling(files, ".cpg"));
  const std::optional<std::string>& cpg = layer->codePage_;
  std::string encoding = options.encoding;
  std::string why = "as the caller asked";
  if (encoding.empty() && cpg) {
    // The file's word names the encoding: its first 256 bytes are looked at.
    encoding = encodingOfCodePageFile(std::string_view(*cpg).substr(0, 256));
    why = "as the .cpg file says";
  }
  Sibling dbf = sibling(files, ".dbf");
  const std::string& dbfPath = dbf.path;
  if (dbf.missing) {
    reporter.report(
        {Severity::Note, dbfPath, -1, -1, "there is no table: shapes without attributes", true});
    layer->encoding_ = encoding.empty() ? std::string(kDefaultEncoding) : encoding;
    return layer;
  }
  layer->table_ = TableReader::open(dbfPath, encoding, reporter, std::move(dbf.file));
  if (!layer->table_) {
    layer->encoding_ = encoding.empty() ? std::string(kDefaultEncoding) : encoding;
    return layer;
  }
  layer->encoding_ = layer->table_->encoding();
  if (encoding.empty()) {
    why = layer->table_->header().languageDriver != 0 &&
                  !encodingOfLanguageDriver(layer->table_->header().languageDriver).empty()
              ? "as the table's language driver mark says"
              : "by default";
  }
  reporter.report(
      {Severity::Note, dbfPath, -1, -1, "text is read as " + layer->encoding_ + ", " + why});
  std::int64_t shapes = layer->shapes_->count(), rows = layer->table_->count();
  if (rows != shapes) {
    reporter.report({Severity::Irregularity, dbfPath, kRecordCountAt, -1,
                     "the table holds " + std::to_string(rows) + " rows for " +
                         std::to_string(shapes) + " shapes"});
  }
  return layer;
}

}  // namespace kel::format
