#include "kel/format/TableReader.h"

#include <algorithm>
#include <stdexcept>

#include "kel/format/Encoding.h"

namespace kel::format {

namespace {

std::string str(std::int64_t n) {
  return std::to_string(n);
}

}  // namespace

void TableReader::report(Severity severity, std::int64_t offset, std::int64_t record,
                         std::string sentence) {
  tell(reporter_, severity, path_, offset, record, std::move(sentence));
}

std::unique_ptr<TableReader> TableReader::open(const std::string& dbfPath,
                                               std::string_view encoding, Reporter& reporter,
                                               std::unique_ptr<ReadOnlyFile> file) {
  std::unique_ptr<TableReader> t(new TableReader(reporter, dbfPath));
  t->file_ = file ? std::move(file) : openOrTell(dbfPath, reporter);
  if (!t->file_) return nullptr;
  std::span<const unsigned char> head = t->file_->view(0, kDbfHeaderBytes);
  if (head.size() < static_cast<std::size_t>(kDbfHeaderBytes)) {
    t->report(Severity::Error, -1, -1,
              "the file holds " + str(t->file_->size()) + " bytes, fewer than its 32-byte header");
    return nullptr;
  }
  t->header_ = DbfHeader::decode(head.data());
  if (!t->readColumns()) return nullptr;
  t->encoding_ = std::string(encoding);
  if (t->encoding_.empty()) t->encoding_ = encodingOfLanguageDriver(t->header_.languageDriver);
  if (t->encoding_.empty()) {
    // Text all ASCII reads alike in every code page: no guess. Any other guess is said, even
    // Windows-1252, the default: the reader cannot know that the writer meant it.
    t->encoding_ = t->guessEncoding();
    t->guessed_ = !t->encoding_.empty();
  }
  if (t->encoding_.empty()) t->encoding_ = kDefaultEncoding;
  t->transcoder_ = Transcoder::open(t->encoding_);
  if (!t->transcoder_ || !extendsAscii(t->encoding_)) {
    t->report(Severity::Irregularity, -1, -1,
              "the encoding " + t->encoding_ +
                  (t->transcoder_ ? " does not write ASCII as ASCII, as a table's headers are"
                                  : " is unknown here") +
                  "; the text is read as " + std::string(kDefaultEncoding));
    t->encoding_ = kDefaultEncoding;
    t->transcoder_ = Transcoder::open(t->encoding_);
  }
  if (t->guessed_) {
    Finding f{Severity::Irregularity, dbfPath, -1, -1,
              "no code page declared; the text reads as " + t->encoding_ + " (guessed)"};
    f.guess = true;
    reporter.report(f);
  }
  for (Column& c : t->columns_) {
    c.name = t->text(c.descriptor.nameBytes());
    while (!c.name.empty() && c.name.back() == ' ') c.name.pop_back();
  }
  return t;
}

std::string TableReader::guessEncoding() {
  CodePageGuess guess;
  for (const Column& c : columns_) guess.add(c.descriptor.nameBytes());
  std::int64_t rows = std::min<std::int64_t>(
      count_, std::max<std::int64_t>(1, CodePageGuess::kSampleBytes / header_.recordLength));
  for (std::int64_t i = 0; i < rows; ++i) {
    std::span<const unsigned char> row =
        file_->view(header_.headerLength + i * header_.recordLength, header_.recordLength);
    std::string_view bytes(reinterpret_cast<const char*>(row.data()), row.size());
    for (const Column& c : columns_) {
      if (c.descriptor.type == ColumnType::Character) {
        guess.add(bytes.substr(1 + c.offset, c.descriptor.width));
      }
    }
  }
  return guess.encoding();
}

bool TableReader::readColumns() {
  const DbfHeader& h = header_;
  std::int64_t at = kDbfHeaderBytes;
  std::size_t offset = 0;
  bool ended = false;
  while (at + kDescriptorBytes <= h.headerLength) {
    std::span<const unsigned char> d = file_->view(at, kDescriptorBytes);
    if (d.empty() || d[0] == kHeaderTerminator) {
      ended = !d.empty();
      break;
    }
    if (d.size() < static_cast<std::size_t>(kDescriptorBytes)) break;
    Column c;
    c.descriptor = FieldDescriptor::decode(d.data());
    c.offset = offset;
    offset += c.descriptor.width;
    columns_.push_back(std::move(c));
    at += kDescriptorBytes;
  }
  if (!ended) {
    std::span<const unsigned char> t = file_->view(at, 1);
    ended = !t.empty() && t[0] == kHeaderTerminator;
  }
  if (ended) {
    descriptorsEnd_ = at + 1;
  } else {
    report(Severity::Irregularity, at, -1, "the column descriptors end without their 0x0D mark");
  }
  if (offset + 1 > h.recordLength) {
    report(Severity::Error, kRecordLengthAt, -1,
           "the columns' widths make rows of " + str(static_cast<std::int64_t>(offset + 1)) +
               " bytes; the header says " + str(h.recordLength));
    return false;
  }
  if (offset + 1 < h.recordLength) {
    report(Severity::Irregularity, kRecordLengthAt, -1,
           "the header says rows of " + str(h.recordLength) + " bytes; the columns fill " +
               str(static_cast<std::int64_t>(offset + 1)));
  }
  std::int64_t room = std::max<std::int64_t>(file_->size() - h.headerLength, 0);
  count_ = std::min<std::int64_t>(h.recordCount, room / h.recordLength);
  if (count_ < h.recordCount) {
    report(Severity::Error, kRecordCountAt, -1,
           "the header counts " + str(h.recordCount) + " rows; the file holds " + str(count_));
  }
  return true;
}

std::optional<std::uint8_t> TableReader::byteAt(std::int64_t offset) {
  std::span<const unsigned char> b = file_->view(offset, 1);
  if (b.empty()) return std::nullopt;
  return b[0];
}

RowView TableReader::read(std::int64_t i) {
  if (i < 0 || i >= count_) throw std::out_of_range("no row " + str(i) + " in the table");
  std::int64_t at = header_.headerLength + i * header_.recordLength;
  std::span<const unsigned char> bytes = file_->view(at, header_.recordLength);
  RowView row;
  row.index = i;
  row.deleted = bytes[0] == kDeleted;
  if (bytes[0] != kDeleted && bytes[0] != kNotDeleted) {
    report(Severity::Irregularity, at, i,
           "the deletion flag is byte " + str(bytes[0]) + ", neither a blank nor '*'");
  }
  row.bytes = {reinterpret_cast<const char*>(bytes.data()) + 1, bytes.size() - 1};
  return row;
}

Value TableReader::value(const RowView& row, std::size_t column) {
  const Column& c = columns_.at(column);
  ++decoded_;
  std::string odd;
  Value v = decodeValue(c.descriptor, row.field(c), *transcoder_, &odd);
  if (!odd.empty()) {
    report(Severity::Irregularity,
           header_.headerLength + row.index * header_.recordLength + 1 +
               static_cast<std::int64_t>(c.offset),
           row.index, "column " + c.name + ": " + odd);
  }
  return v;
}

std::string TableReader::text(std::string_view bytes) {
  std::string out;
  transcoder_->toUtf8(bytes, out);
  return out;
}

}  // namespace kel::format
