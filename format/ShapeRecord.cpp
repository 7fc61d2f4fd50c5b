#include "format/ShapeRecord.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "format/Endian.h"

namespace kel::format {

namespace {

static_assert(sizeof(XY) == 16, "an X/Y pair lies in memory as it lies in the file");

constexpr double kNoMeasure = -1e39;

bool isPoly(Geometry g) {
  return g == Geometry::PolyLine || g == Geometry::Polygon || g == Geometry::MultiPatch;
}

std::size_t fixedBytes(Geometry g) {
  return isPoly(g) ? 44 : 40;
}

std::size_t pointRecordBytes(const ShapeTypeTraits& t) {
  return t.z ? 36 : t.m ? 28 : 20;
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
    // A PointZ may leave its M off.
    std::size_t need = traits->z ? 28 : pointRecordBytes(*traits);
    if (size < need) {
      return CodecError{0, "a " + std::string(name) + " record needs " + str(need) +
                               " bytes; this one holds " + str(size)};
    }
    buffer.points.resize(1);
    buffer.points[0] = {loadLE<double>(b + 4), loadLE<double>(b + 12)};
    view.points = buffer.points;
    const XY& p = buffer.points[0];
    view.box = {p.x, p.y, p.x, p.y};
    std::size_t at = 20;
    if (traits->z) {
      buffer.z.assign(1, loadLE<double>(b + at));
      view.z = buffer.z;
      view.zRange = {buffer.z[0], buffer.z[0]};
      at += 8;
    }
    if (traits->m && size >= at + 8) {
      buffer.m.assign(1, loadLE<double>(b + at));
      view.m = buffer.m;
      view.mRange = {buffer.m[0], buffer.m[0]};
    }
    return std::nullopt;
  }

  std::size_t fixed = fixedBytes(traits->geometry);
  if (size < fixed) {
    return CodecError{0, "a " + std::string(name) + " record needs at least " + str(fixed) +
                             " bytes; this one holds " + str(size)};
  }
  view.box = {loadLE<double>(b + 4), loadLE<double>(b + 12), loadLE<double>(b + 20),
              loadLE<double>(b + 28)};
  bool poly = isPoly(traits->geometry);
  std::int32_t parts = poly ? loadLE<std::int32_t>(b + 36) : 0;
  std::int32_t points = loadLE<std::int32_t>(b + (poly ? 40 : 36));
  if (parts < 0 || points < 0) {
    return CodecError{36, "the record counts " + std::to_string(parts) + " parts and " +
                              std::to_string(points) + " points"};
  }
  auto p = static_cast<std::uint64_t>(parts), n = static_cast<std::uint64_t>(points);
  bool patch = traits->geometry == Geometry::MultiPatch;
  std::uint64_t xyAt = fixed + p * (patch ? 8 : 4);
  std::uint64_t need = xyAt + 16 * n + (traits->z ? 16 + 8 * n : 0);
  if (need > size) {
    return CodecError{36, "its " + str(p) + " parts and " + str(n) + " points need " + str(need) +
                              " bytes; the record holds " + str(size)};
  }
  if (poly) {
    if (n > 0 && p == 0) return CodecError{36, "the record has points but no parts"};
    if (!loadArray(source, fixed, buffer.parts, p)) return unreadable(fixed);
    for (std::size_t i = 0; i < p; ++i) {
      std::int32_t start = buffer.parts[i];
      std::size_t at = fixed + 4 * i;
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
    if (patch) {
      if (!loadArray(source, fixed + 4 * p, buffer.partTypes, p)) return unreadable(fixed + 4 * p);
      for (std::size_t i = 0; i < p; ++i) {
        if (buffer.partTypes[i] < 0 || buffer.partTypes[i] > 5) {
          return CodecError{static_cast<std::size_t>(fixed + 4 * (p + i)),
                            "part " + str(i + 1) + " has part type " +
                                std::to_string(buffer.partTypes[i]) + ", none of the six"};
        }
      }
      view.partTypes = buffer.partTypes;
    }
  }
  if (!loadArray(source, xyAt, buffer.points, n)) return unreadable(xyAt);
  view.points = buffer.points;
  std::uint64_t at = xyAt + 16 * n;
  unsigned char range[16];
  if (traits->z) {
    if (!source.copy(at, 16, range) || !loadArray(source, at + 16, buffer.z, n)) {
      return unreadable(at);
    }
    view.zRange = {loadLE<double>(range), loadLE<double>(range + 8)};
    view.z = buffer.z;
    at += 16 + 8 * n;
  }
  if (traits->m && size >= at + 16 + 8 * n) {
    if (!source.copy(at, 16, range) || !loadArray(source, at + 16, buffer.m, n)) {
      return unreadable(at);
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
  if (t.geometry == Geometry::Null) return 4;
  if (t.geometry == Geometry::Point) return pointRecordBytes(t);
  std::uint64_t n = v.points.size(), p = v.parts.size();
  return fixedBytes(t.geometry) + p * (t.geometry == Geometry::MultiPatch ? 8 : 4) + 16 * n +
         (t.z ? 16 + 8 * n : 0) + (v.m.empty() ? 0 : 16 + 8 * n);
}

void encodeShape(const ShapeView& v, std::vector<unsigned char>& out) {
  std::uint64_t size = encodedSize(v);
  ShapeTypeTraits t = checkedTraits(v);
  std::size_t start = out.size();
  out.resize(start + size);
  unsigned char* b = out.data() + start;
  storeLE(b, static_cast<std::int32_t>(v.type));
  if (t.geometry == Geometry::Null) return;
  if (t.geometry == Geometry::Point) {
    storeLE(b + 4, v.points[0].x);
    storeLE(b + 12, v.points[0].y);
    std::size_t at = 20;
    if (t.z) {
      storeLE(b + at, v.z[0]);
      at += 8;
    }
    if (t.m) storeLE(b + at, v.m.empty() ? kNoMeasure : v.m[0]);
    return;
  }
  const double box[] = {v.box.xMin, v.box.yMin, v.box.xMax, v.box.yMax};
  storeLEArray(b + 4, box, 4);
  std::size_t n = v.points.size(), p = v.parts.size(), at = 36;
  if (isPoly(t.geometry)) {
    storeLE(b + at, static_cast<std::int32_t>(p));
    at += 4;
  }
  storeLE(b + at, static_cast<std::int32_t>(n));
  at += 4;
  if (p > 0) storeLEArray(b + at, v.parts.data(), p);
  at += 4 * p;
  if (t.geometry == Geometry::MultiPatch) {
    if (p > 0) storeLEArray(b + at, v.partTypes.data(), p);
    at += 4 * p;
  }
  for (const XY& xy : v.points) {
    storeLE(b + at, xy.x);
    storeLE(b + at + 8, xy.y);
    at += 16;
  }
  auto putMeasures = [&](Range range, std::span<const double> values) {
    storeLE(b + at, range.min);
    storeLE(b + at + 8, range.max);
    if (!values.empty()) storeLEArray(b + at + 16, values.data(), values.size());
    at += 16 + 8 * values.size();
  };
  if (t.z) putMeasures(v.zRange, v.z);
  if (!v.m.empty()) putMeasures(v.mRange, v.m);
}

}  // namespace kel::format
