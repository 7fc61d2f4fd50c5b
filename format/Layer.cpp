#include "kel/format/Layer.h"

#include <initializer_list>
#include <vector>

#include "kel/format/Encoding.h"
#include "kel/format/LayerFiles.h"
#include "kel/runtime/AtomicFileSet.h"
#include "kel/runtime/FileSystem.h"
#include "kel/runtime/ReadOnlyFile.h"
#include "kel/runtime/SystemFileSet.h"
#include "kel/runtime/Text.h"

namespace kel::format {

namespace {

// A file of the layer, opened when it can be. It is found by the first of its spellings that is
// there; when none is, by the one entry of its directory that matches it letter case aside. A
// file that is there but cannot be used (not a regular file, or two entries that match it and
// no spelling) is refused, and the refusal says why.
struct Sibling {
  std::string path;
  std::unique_ptr<ReadOnlyFile> file;  // null when missing or not to be opened
  bool missing = true;
  std::string refusal;
};
Sibling openSibling(const std::string& path) {
  ReadOnlyFile::OpenError why;
  std::unique_ptr<ReadOnlyFile> f = ReadOnlyFile::open(path, why);
  return {path, std::move(f), why.missing, why.notRegular ? why.sentence : ""};
}
Sibling locate(std::initializer_list<std::string> spellings) {
  for (const std::string& path : spellings) {
    Sibling s = openSibling(path);
    if (!s.missing) return s;
  }
  const std::string& first = *spellings.begin();
  std::size_t slash = first.rfind('/');
  std::string dir = slash == std::string::npos ? "" : first.substr(0, slash + 1);
  std::string name = first.substr(dir.size());
  std::u16string decoded = toUtf16(name);
  // A name that is no UTF-8 is found only as it is spelt.
  std::vector<std::string> names;
  if (toUtf8(decoded) == name) names = namesIgnoringCase(dir, decoded);
  if (names.empty()) return {first, nullptr, true, ""};
  if (names.size() > 1) {
    return {first, nullptr, false,
            "there is no such file, and both " + names[0] + " and " + names[1] +
                " match it letter case aside: which one is meant is not clear"};
  }
  Sibling s = openSibling(dir + names.front());
  if (s.missing) s.path = first;  // gone since the directory was read
  return s;
}

// The file beside the main file with that extension (".shx"): in the main file's letter case
// first, then in the other, then in any.
Sibling sibling(const LayerFiles& files, std::string_view ext) {
  return locate({files.path(ext), files.path(ext, true)});
}

// The whole of a file, or none when it is missing or unreadable.
std::optional<std::string> wholeFile(const std::unique_ptr<ReadOnlyFile>& file) {
  if (!file) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(file->size()), '\0');
  if (!file->copy(0, bytes.size(), bytes.data())) return std::nullopt;
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
                         "a replacement of the layer, or an addition to it, was cut short; its "
                         "old files were put back"});
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
  // A file that is there but cannot be used is an error of the whole layer, the main file's
  // missing or unreadable one the shape reader's.
  auto refused = [&reporter](const Sibling& s) {
    if (!s.refusal.empty()) reporter.report({Severity::Error, s.path, -1, -1, s.refusal});
    return !s.refusal.empty();
  };
  std::string main;
  Sibling shp, shx, prj, codePage, dbf;
  // The files are opened one by one, and another process may replace the layer meanwhile: they
  // are opened again until each name still stands for the file opened by it, with no
  // replacement under way, so that they are all of one generation of the layer.
  for (int attempt = 1;; ++attempt) {
    main = path;
    if (!putRight(main, reporter)) return nullptr;
    shp = LayerFiles::endsInShp(main) ? locate({main}) : sibling(LayerFiles::of(main), ".shp");
    if (refused(shp)) return nullptr;
    main = shp.path;
    const LayerFiles files = LayerFiles::of(main);
    shx = sibling(files, ".shx");
    prj = sibling(files, ".prj");
    codePage = sibling(files, ".cpg");
    dbf = sibling(files, ".dbf");
    for (const Sibling* s : {&shx, &prj, &codePage, &dbf}) {
      if (refused(*s)) return nullptr;
    }
    bool settled = systemfileset::kindOf(AtomicFileSet::recordFor(files.base)) ==
                   systemfileset::Kind::None;
    for (const Sibling* s : {&shp, &shx, &prj, &codePage, &dbf}) {
      settled = settled && (!s->file || s->file->isAt(s->path));
    }
    if (settled) break;
    if (attempt == 100) {
      reporter.report({Severity::Irregularity, main, -1, -1,
                       "the layer's files kept changing while they were opened: they may not "
                       "all be of one version of the layer"});
      break;
    }
  }
  // A missing index is looked for by its path again, and the shape reader says it is missing.
  auto source = [](Sibling& s) { return LayerSources::Source{s.path, std::move(s.file)}; };
  const bool dbfMissing = dbf.missing;
  return read({source(shp), source(shx), source(dbf), source(prj), source(codePage)}, false,
              dbfMissing, reporter, options);
}

std::unique_ptr<Layer> Layer::open(LayerSources sources, Reporter& reporter,
                                   const OpenOptions& options) {
  const bool shxMissing = !sources.shx.file, dbfMissing = !sources.dbf.file;
  return read(std::move(sources), shxMissing, dbfMissing, reporter, options);
}

std::unique_ptr<Layer> Layer::read(LayerSources files, bool shxMissing, bool dbfMissing,
                                   Reporter& reporter, const OpenOptions& options) {
  const std::string& main = files.shp.name;
  auto layer = std::unique_ptr<Layer>(new Layer());
  layer->base_ = LayerFiles::of(main).base;
  // An empty index path: not to be looked for.
  layer->shapes_ = ShapeReader::open(main, shxMissing ? "" : files.shx.name, reporter,
                                     std::move(files.shp.file), std::move(files.shx.file));
  if (!layer->shapes_) return nullptr;
  if (shxMissing) {
    reporter.report({Severity::Note, files.shx.name, -1, -1,
                     "there is no index file; the records are found by walking the main file",
                     true});
  }

  layer->projection_ = wholeFile(files.prj.file);
  layer->codePage_ = wholeFile(files.cpg.file);
  const std::optional<std::string>& cpg = layer->codePage_;
  std::string encoding = options.encoding;
  std::string why = "as the caller asked";
  if (encoding.empty() && cpg) {
    // The file's word names the encoding: its first 256 bytes are looked at.
    encoding = encodingOfCodePageFile(std::string_view(*cpg).substr(0, 256));
    why = "as the .cpg file says";
  }
  const std::string& dbfPath = files.dbf.name;
  if (dbfMissing) {
    reporter.report(
        {Severity::Note, dbfPath, -1, -1, "there is no table: shapes without attributes", true});
    layer->encoding_ = encoding.empty() ? std::string(kDefaultEncoding) : encoding;
    return layer;
  }
  layer->table_ = TableReader::open(dbfPath, encoding, reporter, std::move(files.dbf.file));
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
  if (!layer->table_->encodingGuessed()) {  // a guess the table reader has said
    reporter.report(
        {Severity::Note, dbfPath, -1, -1, "text is read as " + layer->encoding_ + ", " + why});
  }
  std::int64_t shapes = layer->shapes_->count(), rows = layer->table_->count();
  if (rows != shapes) {
    reporter.report({Severity::Irregularity, dbfPath, kRecordCountAt, -1,
                     "the table holds " + std::to_string(rows) + " rows for " +
                         std::to_string(shapes) + " shapes"});
  }
  return layer;
}

}  // namespace kel::format
