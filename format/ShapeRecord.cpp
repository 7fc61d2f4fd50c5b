#include "kel/format/ShapeRecord.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "kel/format/Endian.h"

namespace kel::format {

namespace {

static_assert(sizeof(XY) == 16, "an X/Y pair lies in memory as it lies in the file");


bool isPoly(Geometry g) {
  return g == Geometry::PolyLine || g == Geometry::Polygon || g == Geometry::MultiPatch;
}

// A source that cannot give its bytes: the file ended early, or shrank since it was opened.
CodecError unreadable(std::size_t offset) {
  return CodecError{offset, "the record's bytes cannot be read: the file ends before them"};
}

// n values of T at `offset` of the contents, little-endian, into `out`.
template <class T>
bool loadArray(ContentSource& source, std::size_t offset, std::vector<T>& out, std::size_t n) {
  out.resize(n);
  if (n == 0) return true;
  if (!source.copy(offset, n * sizeof(T), out.data())) return false;
  if constexpr (std::endian::native == std::endian::big) {
    for (T& v : out) {
      if constexpr (std::is_same_v<T, XY>) {
        v = {byteSwapped(v.x), byteSwapped(v.y)};
      } else {
        v = byteSwapped(v);
      }
    }
  }
  return true;
}

// Contents that lie in memory.
class SpanSource final : public ContentSource {
 public:
  explicit SpanSource(std::span<const unsigned char> bytes) : bytes_(bytes) {}
  bool copy(std::size_t offset, std::size_t n, void* dest) override {
    if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
    if (n > 0) std::memcpy(dest, bytes_.data() + offset, n);
    return true;
  }

 private:
  std::span<const unsigned char> bytes_;
};

std::string str(std::uint64_t n) {
  return std::to_string(n);
}

}  // namespace

ContentLayout contentLayout(const ShapeTypeTraits& t, std::uint64_t parts,
                            std::uint64_t points) noexcept {
  ContentLayout l;
  std::uint64_t at = 4;  // behind the shape type
  auto next = [&](std::uint64_t& field, std::uint64_t bytes) {
    field = at;
    at += bytes;
  };
  if (t.geometry == Geometry::Null) {
    l = {at, at, at, at, at, at, at, at, at};
    return l;
  }
  bool point = t.geometry == Geometry::Point, poly = isPoly(t.geometry);
  std::uint64_t n = point ? 1 : points;
  next(l.box, point ? 0 : 32);
  next(l.partCount, poly ? 4 : 0);
  next(l.pointCount, point ? 0 : 4);
  next(l.partStarts, poly ? 4 * parts : 0);
  next(l.partTypes, t.geometry == Geometry::MultiPatch ? 4 * parts : 0);
  next(l.points, 16 * n);
  // A Point's measure is one value; other records put a range before theirs.
  std::uint64_t measures = point ? 8 : 16 + 8 * n;
  next(l.z, t.z ? measures : 0);
  next(l.m, t.m ? measures : 0);
  l.end = at;
  return l;
}

std::optional<CodecError> decodeShape(std::span<const unsigned char> content, ShapeBuffer& buffer,
                                      ShapeView& view) {
  SpanSource source(content);
  return decodeShape(content.size(), source, buffer, view);
}

std::optional<CodecError> decodeShape(std::size_t size, ContentSource& source, ShapeBuffer& buffer,
                                      ShapeView& view) {
  view = ShapeView{};
  if (size < 4) {
    return CodecError{0, "the record holds " + str(size) + " bytes, too few for a shape type"};
  }
  // The fixed part: the type, and the box and counts of the types that have them.
  unsigned char b[44];
  if (!source.copy(0, std::min<std::size_t>(size, sizeof b), b)) return unreadable(0);
  std::int32_t code = loadLE<std::int32_t>(b);
  std::optional<ShapeTypeTraits> traits = traitsOf(code);
  if (!traits)
    return CodecError{0, "shape type " + std::to_string(code) + " is no type of the format"};
  view.type = static_cast<ShapeType>(code);
  if (traits->geometry == Geometry::Null) return std::nullopt;
  std::string_view name(traits->name);

  if (traits->geometry == Geometry::Point) {
    ContentLayout l = contentLayout(*traits, 0, 1);
    // A PointZ may leave its M off.
    std::size_t need = traits->z ? l.m : l.end;
    if (size < need) {
      return CodecError{0, "a " + std::string(name) + " record needs " + str(need) +
                               " bytes; this one holds " + str(size)};
    }
    buffer.points.resize(1);
    buffer.points[0] = {loadLE<double>(b + l.points), loadLE<double>(b + l.points + 8)};
    view.points = buffer.points;
    const XY& p = buffer.points[0];
    view.box = {p.x, p.y, p.x, p.y};
    if (traits->z) {
      buffer.z.assign(1, loadLE<double>(b + l.z));
      view.z = buffer.z;
      view.zRange = {buffer.z[0], buffer.z[0]};
    }
    if (traits->m && size >= l.end) {
      buffer.m.assign(1, loadLE<double>(b + l.m));
      view.m = buffer.m;
      view.mRange = {buffer.m[0], buffer.m[0]};
    }
    return std::nullopt;
  }

  const ContentLayout counts = contentLayout(*traits, 0, 0);
  std::size_t fixed = counts.points;
  if (size < fixed) {
    return CodecError{0, "a " + std::string(name) + " record needs at least " + str(fixed) +
                             " bytes; this one holds " + str(size)};
  }
  view.box = {loadLE<double>(b + counts.box), loadLE<double>(b + counts.box + 8),
              loadLE<double>(b + counts.box + 16), loadLE<double>(b + counts.box + 24)};
  bool poly = isPoly(traits->geometry);
  std::int32_t parts = poly ? loadLE<std::int32_t>(b + counts.partCount) : 0;
  std::int32_t points = loadLE<std::int32_t>(b + counts.pointCount);
  if (parts < 0 || points < 0) {
    return CodecError{counts.partCount, "the record counts " + std::to_string(parts) +
                                            " parts and " + std::to_string(points) + " points"};
  }
  auto p = static_cast<std::uint64_t>(parts), n = static_cast<std::uint64_t>(points);
  const ContentLayout l = contentLayout(*traits, p, n);
  if (l.m > size) {
    return CodecError{counts.partCount, "its " + str(p) + " parts and " + str(n) + " points need " +
                                            str(l.m) + " bytes; the record holds " + str(size)};
  }
  if (poly) {
    if (n > 0 && p == 0) return CodecError{counts.partCount, "the record has points but no parts"};
    if (!loadArray(source, l.partStarts, buffer.parts, p)) return unreadable(l.partStarts);
    for (std::size_t i = 0; i < p; ++i) {
      std::int32_t start = buffer.parts[i];
      std::size_t at = l.partStarts + 4 * i;
      if (start < 0 || static_cast<std::uint64_t>(start) >= n) {
        return CodecError{at, "part " + str(i + 1) + " starts at point " + std::to_string(start) +
                                  ", outside the record's " + str(n) + " points"};
      }
      if (i > 0 && start <= buffer.parts[i - 1]) {
        return CodecError{at, "part " + str(i + 1) + " starts at point " + std::to_string(start) +
                                  ", not after the part before it"};
      }
    }
    view.parts = buffer.parts;
    if (traits->geometry == Geometry::MultiPatch) {
      if (!loadArray(source, l.partTypes, buffer.partTypes, p)) return unreadable(l.partTypes);
      for (std::size_t i = 0; i < p; ++i) {
        if (buffer.partTypes[i] < 0 || buffer.partTypes[i] > 5) {
          return CodecError{l.partTypes + 4 * i, "part " + str(i + 1) + " has part type " +
                                                     std::to_string(buffer.partTypes[i]) +
                                                     ", none of the six"};
        }
      }
      view.partTypes = buffer.partTypes;
    }
  }
  if (!loadArray(source, l.points, buffer.points, n)) return unreadable(l.points);
  view.points = buffer.points;
  unsigned char range[16];
  if (traits->z) {
    if (!source.copy(l.z, 16, range) || !loadArray(source, l.z + 16, buffer.z, n)) {
      return unreadable(l.z);
    }
    view.zRange = {loadLE<double>(range), loadLE<double>(range + 8)};
    view.z = buffer.z;
  }
  if (traits->m && size >= l.end) {
    if (!source.copy(l.m, 16, range) || !loadArray(source, l.m + 16, buffer.m, n)) {
      return unreadable(l.m);
    }
    view.mRange = {loadLE<double>(range), loadLE<double>(range + 8)};
    view.m = buffer.m;
  }
  return std::nullopt;
}

namespace {

ShapeTypeTraits checkedTraits(const ShapeView& v) {
  std::optional<ShapeTypeTraits> t = traitsOf(static_cast<std::int32_t>(v.type));
  if (!t) throw std::invalid_argument("the shape's type is no type of the format");
  ShapeTypeTraits traits = *t;
  std::size_t n = v.points.size();
  auto fail = [](const char* what) { throw std::invalid_argument(what); };
  if (traits.geometry == Geometry::Null) return traits;
  if (traits.geometry == Geometry::Point && n != 1) fail("a point shape has one point");
  if (traits.z && v.z.size() != n) fail("a Z shape has one Z value a point");
  if (!v.m.empty() && (!traits.m || v.m.size() != n))
    fail("M values go one a point, in M or Z types");
  if (traits.geometry == Geometry::MultiPatch && v.partTypes.size() != v.parts.size()) {
    fail("a MultiPatch has one part type a part");
  }
  if (!isPoly(traits.geometry) && !v.parts.empty())
    fail("only lines, polygons and patches have parts");
  return traits;
}

}  // namespace

std::uint64_t encodedSize(const ShapeView& v) {
  ShapeTypeTraits t = checkedTraits(v);
  ContentLayout l = contentLayout(t, v.parts.size(), v.points.size());
  // A PointM always carries its measure, "no measure" when it has none; a PointZ, like the other
  // Z types, only when it is given one.
  bool pointM = t.geometry == Geometry::Point && t.m && !t.z;
  return pointM || !v.m.empty() ? l.end : l.m;
}

void encodeShape(const ShapeView& v, std::vector<unsigned char>& out) {
  std::size_t start = out.size();
  out.resize(start + encodedSize(v));
  encodeShape(v, out.data() + start);
}

void encodeShape(const ShapeView& v, unsigned char* b) {
  std::uint64_t size = encodedSize(v);
  ShapeTypeTraits t = checkedTraits(v);
  storeLE(b, static_cast<std::int32_t>(v.type));
  if (t.geometry == Geometry::Null) return;
  std::size_t n = v.points.size(), p = v.parts.size();
  ContentLayout l = contentLayout(t, p, n);
  if (t.geometry == Geometry::Point) {
    storeLE(b + l.points, v.points[0].x);
    storeLE(b + l.points + 8, v.points[0].y);
    if (t.z) storeLE(b + l.z, v.z[0]);
    if (size == l.end && t.m) storeLE(b + l.m, v.m.empty() ? kNoMeasure : v.m[0]);
    return;
  }
  const double box[] = {v.box.xMin, v.box.yMin, v.box.xMax, v.box.yMax};
  storeLEArray(b + l.box, box, 4);
  if (isPoly(t.geometry)) storeLE(b + l.partCount, static_cast<std::int32_t>(p));
  storeLE(b + l.pointCount, static_cast<std::int32_t>(n));
  if (p > 0) storeLEArray(b + l.partStarts, v.parts.data(), p);
  if (t.geometry == Geometry::MultiPatch && p > 0) {
    storeLEArray(b + l.partTypes, v.partTypes.data(), p);
  }
  if constexpr (std::endian::native == std::endian::little && sizeof(XY) == 16) {
    if (n > 0) std::memcpy(b + l.points, v.points.data(), 16 * n);  // X and Y as in the file
  } else {
    for (std::size_t i = 0; i < n; ++i) {
      storeLE(b + l.points + 16 * i, v.points[i].x);
      storeLE(b + l.points + 16 * i + 8, v.points[i].y);
    }
  }
  auto putMeasures = [&](std::size_t at, Range range, std::span<const double> values) {
    storeLE(b + at, range.min);
    storeLE(b + at + 8, range.max);
    if (!values.empty()) storeLEArray(b + at + 16, values.data(), values.size());
  };
  if (t.z) putMeasures(l.z, v.zRange, v.z);
  if (!v.m.empty()) putMeasures(l.m, v.mRange, v.m);
}

}  // namespace kel::format
