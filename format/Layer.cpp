#include "format/Layer.h"

#include <cctype>

#include "format/Encoding.h"
#include "runtime/ReadOnlyFile.h"

namespace kel::format {

namespace {

bool isUpper(std::string_view s) {
  for (char c : s) {
    if (std::islower(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// The file beside the main file with that extension (".shx"): in the main file's letter case
// first, then in the other; the first spelling when neither is there.
std::string sibling(const std::string& base, std::string_view ext, bool upperFirst) {
  std::string lower(ext), up = upper(std::string(ext));
  std::string first = base + (upperFirst ? up : lower), second = base + (upperFirst ? lower : up);
  ReadOnlyFile::OpenError why;
  if (ReadOnlyFile::open(first, why) || !why.missing) return first;
  if (ReadOnlyFile::open(second, why) || !why.missing) return second;
  return first;
}

// The whole of a small file, or none when it is missing or unreadable.
std::optional<std::string> wholeFile(const std::string& path, std::size_t limit) {
  ReadOnlyFile::OpenError why;
  std::unique_ptr<ReadOnlyFile> f = ReadOnlyFile::open(path, why);
  if (!f) return std::nullopt;
  std::span<const unsigned char> bytes = f->view(0, limit);
  return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace

std::unique_ptr<Layer> Layer::open(std::string_view path, Reporter& reporter,
                                   const OpenOptions& options) {
  std::string main(path);
  bool upperFirst = false;
  if (main.size() >= 4 && upper(main.substr(main.size() - 4)) == ".SHP") {
    upperFirst = isUpper(main.substr(main.size() - 3));
  } else {
    main = sibling(main, ".shp", false);
  }
  auto layer = std::make_unique<Layer>();
  layer->base_ = main.substr(0, main.size() - 4);
  const std::string& base = layer->base_;
  layer->shapes_ = ShapeReader::open(main, sibling(base, ".shx", upperFirst), reporter);
  if (!layer->shapes_) return nullptr;

  constexpr std::size_t kSmallFile = 1 << 20;
  layer->projection_ = wholeFile(sibling(base, ".prj", upperFirst), kSmallFile);
  std::string cpgPath = sibling(base, ".cpg", upperFirst);
  std::optional<std::string> cpg = wholeFile(cpgPath, 256);
  std::string encoding = options.encoding;
  std::string why = "as the caller asked";
  if (encoding.empty() && cpg) {
    encoding = encodingOfCodePageFile(*cpg);
    why = "as the .cpg file says";
  }
  std::string dbfPath = sibling(base, ".dbf", upperFirst);
  ReadOnlyFile::OpenError missing;
  if (!ReadOnlyFile::open(dbfPath, missing) && missing.missing) {
    reporter.report(
        {Severity::Note, dbfPath, -1, -1, "there is no table: shapes without attributes", true});
    layer->encoding_ = encoding.empty() ? std::string(kDefaultEncoding) : encoding;
    return layer;
  }
  layer->table_ = TableReader::open(dbfPath, encoding, reporter);
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
