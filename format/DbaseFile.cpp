#include "kel/format/DbaseFile.h"

#include <cstring>

#include "kel/format/Endian.h"

namespace kel::format {

std::string_view columnTypeName(std::uint8_t letter) noexcept {
  std::optional<ColumnType> type = columnTypeOf(letter);
  if (!type) return {};
  switch (*type) {
    case ColumnType::Character:
      return "Character";
    case ColumnType::Number:
      return "Number";
    case ColumnType::Float:
      return "Float";
    case ColumnType::Logical:
      return "Logical";
    case ColumnType::Date:
      return "Date";
    case ColumnType::Integer:
      return "Integer";
    case ColumnType::Memo:
      return "Memo";
  }
  return {};
}

DbfHeader DbfHeader::decode(const unsigned char* b) noexcept {
  DbfHeader h;
  h.version = b[0];
  h.year = b[1];
  h.month = b[2];
  h.day = b[3];
  h.recordCount = loadLE<std::uint32_t>(b + kRecordCountAt);
  h.headerLength = loadLE<std::uint16_t>(b + kHeaderLengthAt);
  h.recordLength = loadLE<std::uint16_t>(b + kRecordLengthAt);
  h.languageDriver = b[kLanguageDriverAt];
  return h;
}

void DbfHeader::encode(unsigned char* b) const noexcept {
  std::memset(b, 0, kDbfHeaderBytes);
  b[0] = version;
  b[1] = year;
  b[2] = month;
  b[3] = day;
  storeLE(b + kRecordCountAt, recordCount);
  storeLE(b + kHeaderLengthAt, headerLength);
  storeLE(b + kRecordLengthAt, recordLength);
  b[kLanguageDriverAt] = languageDriver;
}

std::string_view FieldDescriptor::nameBytes() const noexcept {
  const char* chars = reinterpret_cast<const char*>(name.data());
  std::size_t n = 0;
  while (n < name.size() && name[n] != 0) ++n;
  return {chars, n};
}

FieldDescriptor FieldDescriptor::decode(const unsigned char* b) noexcept {
  FieldDescriptor d;
  std::memcpy(d.name.data(), b, kFieldNameBytes);
  d.type = b[kTypeLetterAt];
  d.width = b[kWidthAt];
  d.decimals = b[kDecimalsAt];
  return d;
}

void FieldDescriptor::encode(unsigned char* b) const noexcept {
  std::memset(b, 0, kDescriptorBytes);
  std::memcpy(b, name.data(), kFieldNameBytes);
  b[kTypeLetterAt] = type;
  b[kWidthAt] = width;
  b[kDecimalsAt] = decimals;
}

}  // namespace kel::format
