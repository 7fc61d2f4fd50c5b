#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kel/runtime/Collection.h"

namespace kel {

// The records of a dBASE table as a read found them: the bytes of every row, one after the
// other, and the fields that a record makes of its row. The records of the read share them, and
// each makes its RecordFields only when it is first reached, so that a read holds about the
// table's own bytes rather than objects, names and values for every field of the file.
class TableRows {
 public:
  // A field of every record: the name, and the value in the `width` bytes at `offset` in a row.
  void addField(std::u16string_view name, std::size_t offset, std::uint8_t width);

  // Room for `rows` rows of `rowBytes` bytes each, for the reader to fill.
  unsigned char* makeRoom(std::size_t rowBytes, std::size_t rows);

  // Makes the fields of a row (0-based) in the calling thread's arena, side by side with their
  // names and values, for `fields`, an empty list, to hold as a row.
  void makeFields(std::size_t row, Collection& fields) const;

 private:
  struct Field {
    std::uint32_t offset;     // of the value in a row
    std::uint32_t nameStart;  // in names_
    std::uint16_t nameChars;
    std::uint8_t width;
  };

  std::vector<Field> fields_;
  std::u16string names_;
  std::size_t chars_ = 0;  // of a record's names and values
  std::unique_ptr<unsigned char[]> bytes_;
  std::size_t rowBytes_ = 0;
};

}  // namespace kel
