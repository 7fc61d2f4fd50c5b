#include "format/DbaseFile.h"

#include <cstring>

#include "format/Endian.h"

namespace kel::format {

DbfHeader DbfHeader::decode(const unsigned char* b) noexcept {
  DbfHeader h;
  h.version = b[0];
  h.year = b[1];
  h.month = b[2];
  h.day = b[3];
  h.recordCount = loadLE<std::uint32_t>(b + 4);
  h.headerLength = loadLE<std::uint16_t>(b + 8);
  h.recordLength = loadLE<std::uint16_t>(b + 10);
  h.languageDriver = b[29];
  return h;
}

void DbfHeader::encode(unsigned char* b) const noexcept {
  std::memset(b, 0, kDbfHeaderBytes);
  b[0] = version;
  b[1] = year;
  b[2] = month;
  b[3] = day;
  storeLE(b + 4, recordCount);
  storeLE(b + 8, headerLength);
  storeLE(b + 10, recordLength);
  b[29] = languageDriver;
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
  d.type = b[11];
  d.width = b[16];
  d.decimals = b[17];
  return d;
}

void FieldDescriptor::encode(unsigned char* b) const noexcept {
  std::memset(b, 0, kDescriptorBytes);
  std::memcpy(b, name.data(), kFieldNameBytes);
  b[11] = type;
  b[16] = width;
  b[17] = decimals;
}

}  // namespace kel::format
