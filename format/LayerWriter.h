#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "kel/format/DbaseFile.h"
#include "kel/format/Layer.h"
#include "kel/format/Reporter.h"
#include "kel/format/ShapeRecord.h"
#include "kel/format/TableReader.h"
#include "kel/format/Value.h"

namespace kel::format {

// A column of the table to write: its name (UTF-8), type letter, width and decimals.
struct ColumnDefinition {
  std::string name;
  char type = 'C';
  std::uint8_t width = 0;
  std::uint8_t decimals = 0;
};

// A table as another file has it, for a copy that keeps it: the column descriptors as they lie
// (the name's bytes, any type letter, width and decimals), the header's language driver mark, and
// the .cpg file's text, none for no .cpg file. A writer made with it takes each row as its bytes,
// which it does not read: they stay in the encoding they are in.
struct TableLayout {
  std::vector<FieldDescriptor> columns;
  std::uint8_t languageDriver = 0;
  std::optional<std::string> codePage;
};

// The most bytes a file may hold: what readers that take offsets as signed 32-bit numbers
// read, and what the format's 32-bit word counts can reach, for callers whose readers take it.
constexpr std::uint64_t kTwoGigabytes = 0x7FFFFFFF;
constexpr std::uint64_t kFourGigabytes = 0xFFFFFFFE;

struct WriteOptions {
  // The table's text encoding: UTF-8, CP1252 (or 1252, Windows-1252), or any other name that
  // TextEncoder::open takes.
  std::string encoding = "UTF-8";
  std::optional<std::string> projection;  // the .prj file's text; none: no .prj file
  // Cut text that is too long after its last whole character that fits and write a number too
  // wide for its column as asterisks, rather than refuse them.
  bool cut = false;
  // No file grows past this many bytes: at most kFourGigabytes.
  std::uint64_t maxFileBytes = kTwoGigabytes;
  // For a copy: the header's Z and M ranges as its source has them. Each record's ranges are then
  // taken from its ShapeView and the header's from here, where they are what the values make,
  // whether "no measure" counts in the M range (as GDAL and pyshp count it) or not (as ranges are
  // computed otherwise); a range that is neither is computed, and the reporter hears of it.
  struct SourceRanges {
    Range z, m;
  };
  std::optional<SourceRanges> keepRanges;
  // Hears the warnings (a table of more than 255 columns, a range not kept); may be null.
  Reporter* reporter = nullptr;
  // Add the records after those of the layer that is there, rather than replace it. The layer
  // must have the shape type and the columns given (the same names, letter case aside, in the
  // same order, of the same type letters), and its files must end where their headers say; its
  // columns' widths and decimals, its encoding, .cpg and .prj stay as they are (the encoding and
  // projection here are not used). Until close() the old headers stand, and so the old records;
  // close() writes the new records through to the disk, then the headers. A writer destroyed
  // without close(), a failure, or the death of the process (put right by the next reader or
  // writer of the layer) leaves the old layer as it was.
  bool append = false;
};

// A layer to write as a read one is: its shape type, its columns as definitions (each name in
// UTF-8, type letter, width and decimals) and options that keep its encoding and its .prj text.
// A writer made from it takes rows of values as the layer's TableReader gives them; columns of
// letters other than C, N, F, L and D it refuses (a copy of those takes a TableLayout).
struct LayerDefinition {
  ShapeType type = ShapeType::Null;
  std::vector<ColumnDefinition> columns;
  WriteOptions options;
};
LayerDefinition definitionOf(const Layer& layer);

// Why the writer refused something or failed: the file, the record or row (finding().record,
// 0-based) and the column where they are known, and a sentence. what() says it all in one line.
class WriteError : public std::runtime_error {
 public:
  explicit WriteError(Finding finding, std::int64_t column = -1);
  const Finding& finding() const noexcept { return finding_; }
  std::int64_t row() const noexcept { return finding_.record; }
  std::int64_t column() const noexcept { return column_; }  // 0-based; -1 for none

 private:
  Finding finding_;
  std::int64_t column_;
};

// A shape as plain arrays, of the layer's type: X and Y, Z for the Z types, M where wanted, the
// 0-based part starts of lines, polygons and patches, and a patch's part types. Without X values
// it is a Null shape.
struct ShapeArrays {
  std::span<const double> x, y, z, m;
  std::span<const std::int32_t> parts, partTypes;
};

// Writes a shapefile layer a record at a time: the main file, its index, the table and, as asked,
// the .cpg and .prj files. The records go straight to new files under temporary names beside the
// old ones, and only running extents and counts stay in memory, so that memory does not grow with
// the number of records. close() writes the headers and puts the new files in place of the old
// ones all together (AtomicFileSet); a writer destroyed without close(), or whose close() fails,
// leaves the old layer as it was and no temporary file behind.
//
// Every refusal is a WriteError thrown before any byte of the record concerned is written, and
// leaves the writer as it was: the caller may go on with the next record. A failure of the system
// (a full disk) ends the writer: every later call throws.
class LayerWriter {
 public:
  // The layer at a path, with or without ".shp" (a path ending in ".SHP" gives every file an
  // upper-case extension). Refuses, before creating any file: a path with a NUL or no file name,
  // an encoding it does not know, a limit above 4 GB, and columns that the table cannot describe:
  // more than 2,046, names that are empty, longer than 10 bytes in the table's encoding or the
  // same as another's (letter case ignored), types, widths and decimals that unwritableColumn()
  // refuses, rows longer than 65,535 bytes. More than 255 columns is a warning: older dBASE
  // readers stop there.
  LayerWriter(std::string_view path, ShapeType type, std::span<const ColumnDefinition> columns,
              const WriteOptions& options = {});
  // The same as a definition has it: definitionOf(layer) writes a layer like `layer`.
  LayerWriter(std::string_view path, const LayerDefinition& definition)
      : LayerWriter(path, definition.type, definition.columns, definition.options) {}
  // The same for a table laid out as `table` says, whose rows are added as bytes. The options'
  // encoding and cut are not used; the columns are refused only beyond what a table's header and
  // rows can hold (2,046 columns, rows of 65,535 bytes).
  LayerWriter(std::string_view path, ShapeType type, const TableLayout& table,
              const WriteOptions& options = {});
  ~LayerWriter();
  LayerWriter(const LayerWriter&) = delete;
  LayerWriter& operator=(const LayerWriter&) = delete;

  // Adds a record: a shape of the layer's type or a Null shape, and its row, a value a column.
  // The shape's box and ranges are computed here from its arrays, whatever the view says. Refuses
  // a shape of another type, arrays that do not fit the type (a point without exactly one
  // vertex, missing Z values, part starts that do not begin at 0 and rise within the vertices,
  // part types other than 0 to 5), a coordinate that is NaN or infinite, a row of another
  // length, a value its column cannot hold (FieldWriting.h), and a record that would take a file
  // past the limit or beyond 2^31 - 1 records.
  void add(const ShapeView& shape, std::span<const Value> row);
  void add(const ShapeArrays& shape, std::span<const Value> row);
  // Adds a record to a writer made from a TableLayout: the shape as above, and the row as a
  // TableReader read it. Its fields' bytes are written as they lie and bytes behind them (rows
  // that the source's header makes longer) are left out; a row without bytes (RowView{}) is a
  // blank row, no value in any field. A row marked deleted stays deleted ('*'), so that each row
  // stays with its shape; any other deletion flag is written as a blank, as readers take it.
  // Refuses a row shorter than the fields, and a row of values here or of bytes in add() above.
  void add(const ShapeView& shape, const RowView& row);

  // Writes the headers and the table's end mark, writes every file through to the disk and puts
  // the layer in place, removing the old layer's .cpg and .prj files that the new one does not
  // have and its spatial indexes (.qix, .sbn, .sbx), which describe the old shapes. An append
  // removes the spatial indexes alone.
  void close();

  // Where the last record added lies in the new main file: its offset and its content length in
  // bytes (-1 before the first).
  struct Placed {
    std::int64_t offset = -1;
    std::int64_t contentLength = -1;
  };
  const Placed& lastPlaced() const noexcept;

  std::int64_t count() const noexcept;
  // The path without its extension.
  const std::string& basePath() const noexcept;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kel::format
