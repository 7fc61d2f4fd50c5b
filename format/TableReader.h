#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kel/format/DbaseFile.h"
#include "kel/format/Reporter.h"
#include "kel/format/Value.h"
#include "kel/runtime/ReadOnlyFile.h"
#include "kel/runtime/Transcoder.h"

namespace kel::format {

// A column of the table: its descriptor, its name in UTF-8 and where its bytes lie in a row.
struct Column {
  FieldDescriptor descriptor;
  std::string name;
  std::size_t offset = 0;  // from the row's start, past the deletion flag
};

// A row's bytes, valid until the next read.
struct RowView {
  std::int64_t index = -1;
  bool deleted = false;
  std::string_view bytes;  // the fields, without the deletion flag

  std::string_view field(const Column& column) const {
    return bytes.substr(column.offset, column.descriptor.width);
  }
};

// Reads the rows of a dBASE table as views of their fields, and their values typed.
class TableReader {
 public:
  // Opens the table, its text read in `encoding` (a name Transcoder::open takes) or, when that
  // is empty, in the encoding its language driver mark names, else in the one its column names
  // and the text of its first rows look like (CodePageGuess), else (all ASCII) in Windows-1252.
  // A guess, whichever code page it names, is told the reporter as an irregularity. Null
  // when the table cannot be read at all; the reporter has heard why. A file that the caller has
  // opened already may be handed in beside its path, and is then taken rather than opened again.
  static std::unique_ptr<TableReader> open(const std::string& dbfPath, std::string_view encoding,
                                           Reporter& reporter,
                                           std::unique_ptr<ReadOnlyFile> file = nullptr);

  const DbfHeader& header() const noexcept { return header_; }
  const std::vector<Column>& columns() const noexcept { return columns_; }
  // The rows that the file holds whole, at most as many as its header counts.
  std::int64_t count() const noexcept { return count_; }
  const std::string& encoding() const noexcept { return encoding_; }
  // Whether the encoding was guessed from the text (which was not all ASCII).
  bool encodingGuessed() const noexcept { return guessed_; }
  const std::string& path() const noexcept { return path_; }
  // Where the column descriptors end: the offset behind their 0x0D mark, -1 when there is none.
  std::int64_t descriptorsEnd() const noexcept { return descriptorsEnd_; }
  std::int64_t fileSize() const noexcept { return file_->size(); }
  // The byte at an offset; none past the end of the file.
  std::optional<std::uint8_t> byteAt(std::int64_t offset);

  // Row i (0-based; std::out_of_range outside 0..count-1).
  RowView read(std::int64_t i);
  // A field's value; a value its bytes do not make is reported as an irregularity.
  Value value(const RowView& row, std::size_t column);
  // How many values value() has decoded.
  std::int64_t decoded() const noexcept { return decoded_; }
  // Bytes of the table's encoding as UTF-8.
  std::string text(std::string_view bytes);

 private:
  TableReader(Reporter& reporter, std::string path) noexcept
      : reporter_(reporter), path_(std::move(path)) {}
  void report(Severity severity, std::int64_t offset, std::int64_t record, std::string sentence);
  bool readColumns();
  std::string guessEncoding();

  Reporter& reporter_;
  std::string path_;
  std::unique_ptr<ReadOnlyFile> file_;
  std::unique_ptr<Transcoder> transcoder_;
  std::string encoding_;
  bool guessed_ = false;
  DbfHeader header_;
  std::vector<Column> columns_;
  std::int64_t descriptorsEnd_ = -1;
  std::int64_t count_ = 0;
  std::int64_t decoded_ = 0;
};

}  // namespace kel::format
