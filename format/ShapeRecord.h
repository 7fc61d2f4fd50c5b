#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "kel/format/ShapeType.h"

// The contents of a main-file record, from the shape type on (all little-endian; n points, p
// parts):
//
//   Null          type                                               4 bytes
//   Point         type, X, Y                                         20
//   PointM        type, X, Y, M                                      28
//   PointZ        type, X, Y, Z, M (the M may be left off)           36 (28)
//   MultiPoint    type, box, n, n X/Y pairs                          40 + 16n
//   PolyLine,     type, box, p, n, p part starts, n X/Y pairs        44 + 4p + 16n
//   Polygon
//   MultiPatch    as a PolyLine with p part types after the starts   44 + 8p + 16n
//
// The box is four doubles: xMin, yMin, xMax, yMax. After the X/Y pairs, a Z type (MultiPatch
// included) holds the Z range (two doubles) and n Z values, and then, like an M type, may hold the
// M range and n M values: the content length tells whether it does.
namespace kel::format {

struct XY {
  double x = 0;
  double y = 0;
};

struct Box {
  double xMin = 0, yMin = 0, xMax = 0, yMax = 0;
};

struct Range {
  double min = 0, max = 0;
};

// A record's contents as views of arrays that their owner keeps: a reader's buffer, which the
// next record reuses, or a writer's caller.
struct ShapeView {
  ShapeType type = ShapeType::Null;
  Box box;                                  // a Point's box is its own position
  std::span<const std::int32_t> parts;      // 0-based starts; empty for points
  std::span<const std::int32_t> partTypes;  // MultiPatch only (PartType codes)
  std::span<const XY> points;
  std::span<const double> z;  // one a point for the Z types
  std::span<const double> m;  // one a point, or none when the record carries no M values
  Range zRange, mRange;       // a Point's are its own values
};

// The arrays that decoded views lie in, reused from record to record: they grow to the largest
// record read and no further.
struct ShapeBuffer {
  std::vector<std::int32_t> parts, partTypes;
  std::vector<XY> points;
  std::vector<double> z, m;
};

// Where the fields of a record's contents lie, in bytes from the shape type on, for a record of
// its type with p parts and n points (a Point has one). A field that the type lacks lies where the
// next one does, so that every offset is also the end of what comes before it.
struct ContentLayout {
  std::uint64_t box = 0;  // xMin, yMin, xMax, yMax
  std::uint64_t partCount = 0;
  std::uint64_t pointCount = 0;
  std::uint64_t partStarts = 0;  // p of them
  std::uint64_t partTypes = 0;   // p of them
  std::uint64_t points = 0;      // n X/Y pairs
  std::uint64_t z = 0;           // the Z range and n Z values (a Point's one value)
  std::uint64_t m = 0;           // the same for M, which a record may leave off
  std::uint64_t end = 0;         // behind the M values
};

ContentLayout contentLayout(const ShapeTypeTraits& traits, std::uint64_t parts,
                            std::uint64_t points) noexcept;

// Why bytes are no record: where in the contents, and a sentence.
struct CodecError {
  std::uint64_t offset = 0;
  std::string sentence;
};

// Decodes contents into `view`, its arrays placed in `buffer`. Fails when the bytes cannot be a
// record of their type: an unknown type, counts that the contents cannot hold, part starts
// outside the points or out of order. Allocates no more than the contents' size justifies.
std::optional<CodecError> decodeShape(std::span<const unsigned char> content, ShapeBuffer& buffer,
                                      ShapeView& view);

// Contents that are not all in memory, such as a record in a file: copied piece by piece, each
// array straight into the buffer it goes to.
class ContentSource {
 public:
  // Copies the contents' bytes [offset, offset + n) to dest; false when they cannot be had.
  virtual bool copy(std::size_t offset, std::size_t n, void* dest) = 0;

 protected:
  ~ContentSource() = default;
};

// decodeShape of `size` bytes of contents that `source` holds; fails as well when the source
// cannot give bytes that `size` says are there.
std::optional<CodecError> decodeShape(std::size_t size, ContentSource& source, ShapeBuffer& buffer,
                                      ShapeView& view);

// The contents' length in bytes that encodeShape writes for the view.
std::uint64_t encodedSize(const ShapeView& view);

// Appends the view's contents. A view whose arrays do not fit its type (Z values missing from a
// Z type, part types from a MultiPatch, M values of another count than the points) throws
// std::invalid_argument.
void encodeShape(const ShapeView& view, std::vector<unsigned char>& out);
// The same into `out`, which has room for encodedSize(view) bytes.
void encodeShape(const ShapeView& view, unsigned char* out);

}  // namespace kel::format
