#include "kel/format/MainFile.h"

#include "kel/format/Endian.h"

namespace kel::format {

MainHeader MainHeader::decode(const Bytes& b) noexcept {
  MainHeader h;
  h.fileCode = loadBE32(&b[0]);
  for (int i = 0; i < 5; ++i) h.unused[i] = loadBE32(&b[4 + 4 * i]);
  h.fileLength = loadBE32(&b[kFileLengthAt]);
  h.version = loadLE<std::int32_t>(&b[kVersionAt]);
  h.shapeType = loadLE<std::int32_t>(&b[kShapeTypeAt]);
  double* doubles[] = {&h.xMin, &h.yMin, &h.xMax, &h.yMax, &h.zMin, &h.zMax, &h.mMin, &h.mMax};
  for (int i = 0; i < 8; ++i) *doubles[i] = loadLE<double>(&b[kBoxAt + 8 * i]);
  return h;
}

MainHeader::Bytes MainHeader::encode() const noexcept {
  Bytes b{};
  storeBE32(&b[0], fileCode);
  for (int i = 0; i < 5; ++i) storeBE32(&b[4 + 4 * i], unused[i]);
  storeBE32(&b[kFileLengthAt], fileLength);
  storeLE(&b[kVersionAt], version);
  storeLE(&b[kShapeTypeAt], shapeType);
  const double doubles[] = {xMin, yMin, xMax, yMax, zMin, zMax, mMin, mMax};
  for (int i = 0; i < 8; ++i) storeLE(&b[kBoxAt + 8 * i], doubles[i]);
  return b;
}

RecordHeader RecordHeader::decode(const unsigned char* bytes) noexcept {
  return {loadBE32(bytes), loadBE32(bytes + kContentLengthAt)};
}

void RecordHeader::encode(unsigned char* bytes) const noexcept {
  storeBE32(bytes, recordNumber);
  storeBE32(bytes + kContentLengthAt, contentLength);
}

IndexEntry IndexEntry::decode(const unsigned char* bytes) noexcept {
  return {loadBE32(bytes), loadBE32(bytes + 4)};
}

void IndexEntry::encode(unsigned char* bytes) const noexcept {
  storeBE32(bytes, offset);
  storeBE32(bytes + 4, contentLength);
}

}  // namespace kel::format
