#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The layout of the dBASE table (.dbf), described once for readers, writers and checks. Integers
// are little-endian; text is in the table's encoding (Encoding.h).
//
//   file header, 32 bytes
//     0   1  version (3: dBASE III, no memo file)
//     1   3  date of the last update: year - 1900, month, day
//     4   4  number of records
//     8   2  header length: 32 + 32 * fields + 1 (and whatever a writer leaves behind it)
//    10   2  record length: 1 + the sum of the widths
//    12  17  reserved
//    29   1  language driver: the code page's mark (0x57, 0x03: Windows-1252)
//    30   2  reserved
//   field descriptor, 32 bytes, one a column
//     0  11  name, zero-padded (ten bytes at most, then a zero)
//    11   1  type letter: C, N, F, L, D, and in files of other writers I, M and more
//    12   4  field data address (zero)
//    16   1  width in bytes
//    17   1  decimal count
//    18  14  reserved
//   header terminator 0x0D
//   records at the header length: a deletion flag (a blank; '*' for a deleted record) and the
//   fields' bytes in column order
//   end-of-file mark 0x1A
namespace kel::format {

constexpr std::int32_t kDbfHeaderBytes = 32;
constexpr std::int32_t kDescriptorBytes = 32;
constexpr std::int32_t kFieldNameBytes = 11;  // the name and its terminating zero
constexpr std::uint8_t kHeaderTerminator = 0x0D;
constexpr std::uint8_t kEndOfFileMark = 0x1A;
constexpr std::uint8_t kNotDeleted = ' ';
constexpr std::uint8_t kDeleted = '*';

// Where the header's fields and a descriptor's lie, in bytes from their starts.
constexpr std::int32_t kRecordCountAt = 4;
constexpr std::int32_t kHeaderLengthAt = 8;
constexpr std::int32_t kRecordLengthAt = 10;
constexpr std::int32_t kLanguageDriverAt = 29;
constexpr std::int32_t kTypeLetterAt = 11;
constexpr std::int32_t kWidthAt = 16;
constexpr std::int32_t kDecimalsAt = 17;

// What a table holds at most, as its layout has it. Each is a refusal of the writer; the warning
// is one too for kOldReadersColumns.
constexpr std::size_t kMaxNameBytes = kFieldNameBytes - 1;  // of a column's name
constexpr std::size_t kMaxWidth = 254;                      // of a column, in bytes
constexpr std::size_t kMaxColumns = 2046;  // 32 + 32 * 2046 + 1 header bytes fit 16 bits
constexpr std::size_t kOldReadersColumns = 255;  // more: older dBASE readers stop there
constexpr std::size_t kMaxRowBytes = 65535;      // a row's length, deletion flag included

// The column types whose letters the library knows. A switch over them has no default, so that
// the compiler names a type that one forgets.
enum class ColumnType : char {
  Character = 'C',
  Number = 'N',
  Float = 'F',
  Logical = 'L',
  Date = 'D',
  Integer = 'I',
  Memo = 'M',
};

// The type of a letter as it lies in a descriptor; none for a letter the library does not know
// (lower case included).
constexpr std::optional<ColumnType> columnTypeOf(std::uint8_t letter) noexcept {
  for (ColumnType type : {ColumnType::Character, ColumnType::Number, ColumnType::Float,
                          ColumnType::Logical, ColumnType::Date, ColumnType::Integer,
                          ColumnType::Memo}) {
    if (static_cast<std::uint8_t>(type) == letter) return type;
  }
  return std::nullopt;
}

// A letter against a type: `column.type == ColumnType::Logical`.
constexpr bool operator==(std::uint8_t letter, ColumnType type) noexcept {
  return letter == static_cast<std::uint8_t>(type);
}

// The name of a column type letter ("Character", "Number", "Float", "Logical", "Date", "Integer",
// "Memo"); empty for a letter the library gives no name.
std::string_view columnTypeName(std::uint8_t letter) noexcept;

struct DbfHeader {
  std::uint8_t version = 3;
  std::uint8_t year = 0;  // since 1900
  std::uint8_t month = 1;
  std::uint8_t day = 1;
  std::uint32_t recordCount = 0;
  std::uint16_t headerLength = 0;
  std::uint16_t recordLength = 0;
  std::uint8_t languageDriver = 0;

  static DbfHeader decode(const unsigned char* bytes) noexcept;
  void encode(unsigned char* bytes) const noexcept;
};

struct FieldDescriptor {
  std::array<unsigned char, kFieldNameBytes> name{};  // as it lies, zero-padded
  std::uint8_t type = 'C';
  std::uint8_t width = 0;
  std::uint8_t decimals = 0;

  // The name's bytes up to the first zero.
  std::string_view nameBytes() const noexcept;
  static FieldDescriptor decode(const unsigned char* bytes) noexcept;
  void encode(unsigned char* bytes) const noexcept;
};

}  // namespace kel::format
