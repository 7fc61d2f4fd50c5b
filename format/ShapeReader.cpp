#include "kel/format/ShapeReader.h"

#include <algorithm>
#include <stdexcept>

#include "kel/format/Endian.h"
#include "kel/format/MainFile.h"

namespace kel::format {

namespace {

std::string str(std::int64_t n) {
  return std::to_string(n);
}

// A record's contents where they lie in the main file: each array is copied from the file to the
// buffer it goes to, a large one without passing through the file's window.
class FileSource final : public ContentSource {
 public:
  FileSource(ReadOnlyFile& file, std::int64_t start) : file_(file), start_(start) {}
  bool copy(std::size_t offset, std::size_t n, void* dest) override {
    return file_.copy(start_ + static_cast<std::int64_t>(offset), n, dest);
  }

 private:
  ReadOnlyFile& file_;
  std::int64_t start_;
};

}  // namespace

void ShapeReader::report(Severity severity, std::int64_t offset, std::int64_t record,
                         std::string sentence, const std::string* file) {
  tell(reporter_, severity, file != nullptr ? *file : shpPath_, offset, record,
       std::move(sentence));
}

std::unique_ptr<ShapeReader> ShapeReader::open(const std::string& shpPath,
                                               const std::string& shxPath, Reporter& reporter,
                                               std::unique_ptr<ReadOnlyFile> shp,
                                               std::unique_ptr<ReadOnlyFile> shx) {
  std::unique_ptr<ShapeReader> r(new ShapeReader(reporter, shpPath));
  r->shp_ = shp ? std::move(shp) : openOrTell(shpPath, reporter);
  if (!r->shp_) return nullptr;
  std::span<const unsigned char> bytes = r->shp_->view(0, kHeaderBytes);
  if (bytes.size() < static_cast<std::size_t>(kHeaderBytes)) {
    r->report(Severity::Error, -1, -1,
              "the file holds " + str(r->shp_->size()) + " bytes, fewer than its 100-byte header");
    return nullptr;
  }
  MainHeader::Bytes raw;
  std::copy(bytes.begin(), bytes.end(), raw.begin());
  r->header_ = MainHeader::decode(raw);
  const MainHeader& h = r->header_;
  if (h.fileCode != kFileCode) {
    r->report(Severity::Error, 0, -1,
              "the file code is " + str(h.fileCode) + ", not 9994: this is no shapefile");
    return nullptr;
  }
  if (!traitsOf(h.shapeType)) {
    r->report(Severity::Error, kShapeTypeAt, -1,
              "the shape type " + str(h.shapeType) + " is no type of the format");
    return nullptr;
  }
  if (h.version != kVersion) {
    r->report(Severity::Irregularity, kVersionAt, -1,
              "the version is " + str(h.version) + ", not 1000");
  }
  if (std::int64_t{h.fileLength} * 2 != r->shp_->size()) {
    r->report(Severity::Irregularity, kFileLengthAt, -1,
              "the header gives a length of " + str(std::int64_t{h.fileLength} * 2) +
                  " bytes; the file holds " + str(r->shp_->size()));
  }
  if (shxPath.empty() || !r->useIndex(shxPath, std::move(shx))) {
    r->walk();
    r->count_ = static_cast<std::int64_t>(r->walked_.size());
  }
  return r;
}

// Takes the index file when it is there and sound in its header and its ends; otherwise says so.
// An index with a whole header stays open for those who compare it with the main file.
bool ShapeReader::useIndex(const std::string& shxPath, std::unique_ptr<ReadOnlyFile> shx) {
  shxPath_ = shxPath;
  ReadOnlyFile::OpenError why;
  if (!shx) shx = ReadOnlyFile::open(shxPath, why);
  auto refuse = [&](Severity severity, std::string sentence) {
    Finding f{severity,
              shxPath_,
              -1,
              -1,
              sentence + "; the records are found by walking the main file",
              !shx && why.missing};
    reporter_.report(f);
    return false;
  };
  if (!shx) {
    return refuse(why.missing ? Severity::Note : Severity::Irregularity,
                  why.missing ? "there is no index file" : "cannot be opened: " + why.sentence);
  }
  std::int64_t size = shx->size();
  std::span<const unsigned char> head = shx->view(0, kHeaderBytes);
  if (head.size() < static_cast<std::size_t>(kHeaderBytes)) {
    return refuse(Severity::Irregularity,
                  "its length of " + str(size) + " bytes is no header and whole entries");
  }
  MainHeader::Bytes raw;
  std::copy(head.begin(), head.end(), raw.begin());
  indexHeader_ = MainHeader::decode(raw);
  shx_ = std::move(shx);
  indexEntries_ = (size - kHeaderBytes) / kIndexEntryBytes;
  if ((size - kHeaderBytes) % kIndexEntryBytes != 0) {
    return refuse(Severity::Irregularity,
                  "its length of " + str(size) + " bytes is no header and whole entries");
  }
  if (indexHeader_->fileCode != kFileCode) {
    return refuse(Severity::Irregularity, "its file code is not 9994");
  }
  std::int64_t n = indexEntries_;
  if (n > 0) {
    IndexEntry first = indexEntry(0), last = indexEntry(n - 1);
    std::int64_t lastEnd = std::int64_t{static_cast<std::uint32_t>(last.offset)} * 2 +
                           kRecordHeaderBytes + std::int64_t{last.contentLength} * 2;
    if (first.offset != kHeaderBytes / 2 || last.contentLength < 0 || lastEnd > shp_->size()) {
      return refuse(Severity::Irregularity, "its entries do not fit the main file");
    }
  }
  indexed_ = true;
  count_ = n;
  return true;
}

IndexEntry ShapeReader::indexEntry(std::int64_t i) {
  if (i < 0 || i >= indexEntries_) throw std::out_of_range("no entry " + str(i) + " in the index");
  return IndexEntry::decode(
      shx_->view(kHeaderBytes + kIndexEntryBytes * i, kIndexEntryBytes).data());
}

const std::vector<std::uint32_t>& ShapeReader::walked() {
  if (!walkDone_) walk();
  return walked_;
}

// Finds the records by their headers, from the first to the last that the file holds whole.
void ShapeReader::walk() {
  std::int64_t size = shp_->size();
  std::int64_t at = kHeaderBytes;
  while (at + kRecordHeaderBytes <= size) {
    RecordHeader rh = RecordHeader::decode(shp_->view(at, kRecordHeaderBytes).data());
    std::int64_t end = at + kRecordHeaderBytes + std::int64_t{rh.contentLength} * 2;
    if (rh.contentLength < 2 || end > size) {
      report(Severity::Error, at, static_cast<std::int64_t>(walked_.size()),
             "the record's content length of " + str(std::int64_t{rh.contentLength} * 2) +
                 " bytes runs past the end of the file; the records end here");
      break;
    }
    if (at / 2 > std::int64_t{UINT32_MAX}) {
      report(Severity::Error, at, static_cast<std::int64_t>(walked_.size()),
             "records beyond 8 GiB cannot be addressed; the records end here");
      break;
    }
    walked_.push_back(static_cast<std::uint32_t>(at / 2));
    at = end;
  }
  if (at < size && at + kRecordHeaderBytes > size) {
    report(Severity::Irregularity, at, -1, str(size - at) + " bytes follow the last record");
  }
  walkDone_ = true;
}

std::int64_t ShapeReader::offsetOf(std::int64_t i, std::int64_t& indexedLength) {
  indexedLength = -1;
  if (!indexed_) return std::int64_t{walked_[static_cast<std::size_t>(i)]} * 2;
  IndexEntry e = indexEntry(i);
  indexedLength = std::int64_t{e.contentLength} * 2;
  return std::int64_t{static_cast<std::uint32_t>(e.offset)} * 2;
}

ShapeReader::RecordBox ShapeReader::recordBox(std::int64_t i) {
  if (i < 0 || i >= count_) throw std::out_of_range("no record " + str(i) + " in the file");
  ++boxesRead_;
  std::int64_t indexed;
  const std::int64_t at = offsetOf(i, indexed);
  // The record header, the shape type and four doubles: a box, or a point's X and Y.
  constexpr std::int64_t kFirst = kRecordHeaderBytes + 4 + 32;
  std::span<const unsigned char> head = at >= kHeaderBytes ? shp_->view(at, kFirst)
                                                           : std::span<const unsigned char>();
  RecordBox out;
  if (head.size() < static_cast<std::size_t>(kRecordHeaderBytes + 4)) return out;
  const std::int64_t length = std::int64_t{RecordHeader::decode(head.data()).contentLength} * 2;
  const std::int32_t type = loadLE<std::int32_t>(head.data() + kRecordHeaderBytes);
  const std::optional<ShapeTypeTraits> traits = traitsOf(type);
  if (!traits) return out;
  out.null = traits->geometry == Geometry::Null;
  const bool point = traits->geometry == Geometry::Point;
  const std::size_t need = kRecordHeaderBytes + 4 + (point ? 16 : 32);
  if (out.null || head.size() < need || length + kRecordHeaderBytes < static_cast<std::int64_t>(need)) {
    return out;
  }
  const unsigned char* d = head.data() + kRecordHeaderBytes + 4;
  Box b{loadLE<double>(d), loadLE<double>(d + 8), 0, 0};
  if (point) {
    b.xMax = b.xMin;
    b.yMax = b.yMin;
  } else {
    b.xMax = loadLE<double>(d + 16);
    b.yMax = loadLE<double>(d + 24);
  }
  out.box = b;
  return out;
}

bool ShapeReader::read(std::int64_t i, ShapeView& view) {
  if (i < 0 || i >= count_) throw std::out_of_range("no record " + str(i) + " in the file");
  view = ShapeView{};
  place_ = Place{};
  std::int64_t indexed;  // the content length in bytes that the index gives
  const std::int64_t at = offsetOf(i, indexed);
  std::span<const unsigned char> head = shp_->view(at, kRecordHeaderBytes);
  if (at < kHeaderBytes || head.size() < static_cast<std::size_t>(kRecordHeaderBytes)) {
    report(Severity::Error, at, i, "the index points at no record of the main file",
           indexed_ ? &shxPath_ : nullptr);
    return false;
  }
  RecordHeader rh = RecordHeader::decode(head.data());
  std::int64_t length = std::int64_t{rh.contentLength} * 2;
  place_ = {at, length};
  if (rh.recordNumber != i + 1) {
    report(Severity::Irregularity, at, i, "the record is numbered " + str(rh.recordNumber));
  }
  if (indexed >= 0 && indexed != length) {
    report(Severity::Irregularity, kHeaderBytes + kIndexEntryBytes * i, i,
           "the index gives a content length of " + str(indexed) + " bytes; the record says " +
               str(length),
           &shxPath_);
  }
  if (length < 0 || at + kRecordHeaderBytes + length > shp_->size()) {
    report(Severity::Error, at, i,
           "the record's " + str(length) + " bytes of contents run past the end of the file");
    return false;
  }
  FileSource content(*shp_, at + kRecordHeaderBytes);
  ++decoded_;
  if (std::optional<CodecError> e =
          decodeShape(static_cast<std::size_t>(length), content, buffer_, view)) {
    report(Severity::Error, at + kRecordHeaderBytes + static_cast<std::int64_t>(e->offset), i,
           e->sentence);
    view = ShapeView{};
    return false;
  }
  if (view.type != ShapeType::Null && view.type != type()) {
    report(Severity::Irregularity, at + kRecordHeaderBytes, i,
           "a " + std::string(traitsOf(static_cast<std::int32_t>(view.type))->name) +
               " record in a " + std::string(traitsOf(header_.shapeType)->name) + " file");
  }
  return true;
}

}  // namespace kel::format
