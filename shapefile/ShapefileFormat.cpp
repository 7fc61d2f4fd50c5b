#include "shapefile/ShapefileFormat.h"

#include <bit>
#include <cstring>

#include "runtime/Checked.h"

namespace kel::shp {

namespace {

// Host-order copies of little-endian file words; the file formats are little-endian apart from
// the words that swapBytes turns.
template <class T>
T loadLE(const unsigned char* at) noexcept {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

template <class T>
void storeLE(unsigned char* at, T value) noexcept {
  std::memcpy(at, &value, sizeof value);
}

static_assert(std::endian::native == std::endian::little,
              "the header codec copies little-endian words as they lie in memory");

}  // namespace

ShapefileHeader ShapefileHeader::decode(const Bytes& b) noexcept {
  ShapefileHeader h;
  h.fileCode = swapBytes(loadLE<std::int32_t>(&b[0]));
  for (int i = 0; i < 5; ++i) h.unused[i] = swapBytes(loadLE<std::int32_t>(&b[4 + 4 * i]));
  h.fileLength = swapBytes(loadLE<std::int32_t>(&b[24]));
  h.version = loadLE<std::int32_t>(&b[28]);
  h.shapeType = loadLE<std::int32_t>(&b[32]);
  double* doubles[] = {&h.xMin, &h.yMin, &h.xMax, &h.yMax, &h.zMin, &h.zMax, &h.mMin, &h.mMax};
  for (int i = 0; i < 8; ++i) *doubles[i] = loadLE<double>(&b[36 + 8 * i]);
  return h;
}

ShapefileHeader::Bytes ShapefileHeader::encode() const noexcept {
  Bytes b{};
  storeLE(&b[0], swapBytes(fileCode));
  for (int i = 0; i < 5; ++i) storeLE(&b[4 + 4 * i], swapBytes(unused[i]));
  storeLE(&b[24], swapBytes(fileLength));
  storeLE(&b[28], version);
  storeLE(&b[32], shapeType);
  const double doubles[] = {xMin, yMin, xMax, yMax, zMin, zMax, mMin, mMax};
  for (int i = 0; i < 8; ++i) storeLE(&b[36 + 8 * i], doubles[i]);
  return b;
}

std::int32_t multiPointContentWords(std::int32_t points) {
  return add32(mul32(kPointBytes, points), kMultiPointFixedBytes) / 2;
}

std::int32_t polyContentWords(std::int32_t parts, std::int32_t points) {
  return add32(add32(mul32(4, parts), kPolyFixedBytes), mul32(kPointBytes, points)) / 2;
}

}  // namespace kel::shp
