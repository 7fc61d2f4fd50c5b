#include "python/Wkb.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

#include "kel/geojson/Geometry.h"

namespace kelpy::wkb {

namespace {

namespace format = kel::format;
namespace geojson = kel::geojson;
namespace plan = kel::plan;

static_assert(std::endian::native == std::endian::little, "WKB is written little-endian");

enum : std::uint32_t {
  kPoint = 1,
  kLine = 2,
  kPolygon = 3,
  kMultiPoint = 4,
  kMultiLine = 5,
  kMultiPolygon = 6,
  kExtendedZ = 0x80000000u,
  kExtendedM = 0x40000000u
};

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) { out_.clear(); }
  void header(std::uint32_t type, bool z) {
    out_.push_back('\x01');  // little-endian
    put(z ? type | kExtendedZ : type);
  }
  void put(std::uint32_t v) { append(&v, sizeof v); }
  void put(double v) { append(&v, sizeof v); }
  void position(double x, double y, const double* z) {
    put(x);
    put(y);
    if (z != nullptr) put(*z);
  }
  void ring(const geojson::Ring& r, bool z) {
    put(static_cast<std::uint32_t>(r.size()));
    for (const geojson::Point& p : r) position(p.x, p.y, z ? &p.z : nullptr);
  }

 private:
  void append(const void* p, std::size_t n) { out_.append(static_cast<const char*>(p), n); }
  std::string& out_;
};

}  // namespace

bool write(const format::ShapeView& v, std::string& bytes) {
  Writer out(bytes);
  const std::size_t n = v.points.size();
  if (n == 0) return false;
  const bool z = !v.z.empty();
  auto vertex = [&](std::size_t i) {
    out.position(v.points[i].x, v.points[i].y, z ? &v.z[i] : nullptr);
  };
  auto partEnd = [&](std::size_t k) {
    return k + 1 < v.parts.size() ? static_cast<std::size_t>(v.parts[k + 1]) : n;
  };
  switch (format::traitsOf(static_cast<std::int32_t>(v.type))->geometry) {
    case format::Geometry::Point:
      out.header(kPoint, z);
      vertex(0);
      return true;
    case format::Geometry::MultiPoint:
      out.header(kMultiPoint, z);
      out.put(static_cast<std::uint32_t>(n));
      for (std::size_t i = 0; i < n; ++i) {
        out.header(kPoint, z);
        vertex(i);
      }
      return true;
    case format::Geometry::PolyLine: {
      if (v.parts.empty()) return false;
      auto line = [&](std::size_t k) {
        out.header(kLine, z);
        const auto begin = static_cast<std::size_t>(v.parts[k]);
        out.put(static_cast<std::uint32_t>(partEnd(k) - begin));
        for (std::size_t i = begin; i < partEnd(k); ++i) vertex(i);
      };
      if (v.parts.size() == 1) {
        line(0);
        return true;
      }
      out.header(kMultiLine, z);
      out.put(static_cast<std::uint32_t>(v.parts.size()));
      for (std::size_t k = 0; k < v.parts.size(); ++k) line(k);
      return true;
    }
    default:
      break;
  }
  geojson::Geometry g = geojson::geometryOf(v);
  if (g.type == geojson::GeometryType::Null) {
    bytes.clear();
    return false;
  }
  // The grouping turns rings to run as GeoJSON has them; GDAL leaves them as the file has them.
  // Its outer rings ran clockwise (those of the first polygons, one a ring that did) and its holes,
  // and the rings that stand alone after them, did not.
  std::size_t clockwise = 0;
  if (format::traitsOf(static_cast<std::int32_t>(v.type))->geometry == format::Geometry::Polygon) {
    for (std::size_t k = 0; k < v.parts.size(); ++k) {
      const auto begin = static_cast<std::size_t>(v.parts[k]);
      geojson::Ring ring;
      for (std::size_t i = begin; i < std::max(begin, partEnd(k)) && i < n; ++i) {
        ring.push_back({v.points[i].x, v.points[i].y, 0, 0});
      }
      if (geojson::signedArea2(ring) < 0) ++clockwise;
    }
  }
  auto asFiled = [](geojson::Ring& ring, bool wasClockwise) {
    const double area = geojson::signedArea2(ring);
    if (wasClockwise ? area > 0 : area < 0) std::reverse(ring.begin(), ring.end());
  };
  std::size_t index = 0;
  auto polygon = [&](geojson::Polygon& p) {
    out.header(kPolygon, z);
    out.put(static_cast<std::uint32_t>(1 + p.holes.size()));
    if (index++ < clockwise) {
      asFiled(p.outer, true);
    } else if (geojson::signedArea2(p.outer) == 0) {
      std::reverse(p.outer.begin(), p.outer.end());  // the grouping turned it round
    }
    out.ring(p.outer, z);
    for (geojson::Ring& h : p.holes) {
      asFiled(h, false);
      out.ring(h, z);
    }
  };
  if (g.polygons.size() == 1) {
    polygon(g.polygons[0]);
    return true;
  }
  out.header(kMultiPolygon, z);
  out.put(static_cast<std::uint32_t>(g.polygons.size()));
  for (geojson::Polygon& p : g.polygons) polygon(p);
  return true;
}

namespace {

template <class T>
T swapped(T v) {
  unsigned char b[sizeof v];
  std::memcpy(b, &v, sizeof v);
  std::reverse(b, b + sizeof v);
  std::memcpy(&v, b, sizeof v);
  return v;
}

class Reader {
 public:
  Reader(std::string_view bytes, plan::Geometry& out) : in_(bytes), out_(out) {}

  void geometry() {
    out_.clear();
    const Header h = header();
    using K = plan::GeometryKind;
    static constexpr K kinds[] = {K::None,       K::Point,           K::LineString,  K::Polygon,
                                  K::MultiPoint, K::MultiLineString, K::MultiPolygon};
    out_.kind = kinds[h.type];
    switch (h.type) {
      case kPoint:
        point(h);
        break;
      case kLine:
        out_.startLine();
        points(h);
        break;
      case kPolygon:
        rings(h);
        break;
      default:
        for (std::uint32_t i = 0, n = count(); i < n; ++i) {
          const Header member = header();
          if (member.type != h.type - 3) fail("a member of another kind than its collection's");
          if (member.type == kPoint) point(member);
          if (member.type == kLine) out_.startLine(), points(member);
          if (member.type == kPolygon) rings(member);
        }
    }
    if (at_ != in_.size()) fail("bytes after the geometry's end");
  }

 private:
  struct Header {
    std::uint32_t type = 0;
    bool z = false, m = false, swap = false;
  };

  [[noreturn]] void fail(const std::string& why) {
    throw Unreadable("the WKB cannot be read at byte " + std::to_string(at_) + ": " + why);
  }

  void take(void* dest, std::size_t n) {
    if (in_.size() - at_ < n) fail("it ends early");
    std::memcpy(dest, in_.data() + at_, n);
    at_ += n;
  }
  std::uint32_t word() {
    std::uint32_t v;
    take(&v, sizeof v);
    return swap_ ? swapped(v) : v;
  }
  double number() {
    std::uint64_t v;
    take(&v, sizeof v);
    return std::bit_cast<double>(swap_ ? swapped(v) : v);
  }
  std::uint32_t count() {
    const std::uint32_t n = word();
    // Every item takes at least 4 bytes: a larger count cannot be true.
    if (n > (in_.size() - at_) / 4) fail("a count of " + std::to_string(n) + " it cannot hold");
    return n;
  }

  Header header() {
    unsigned char order = 0;
    take(&order, 1);
    if (order > 1) fail("a byte order mark of " + std::to_string(order));
    swap_ = order == 0;
    std::uint32_t code = word();
    Header h;
    h.z = (code & kExtendedZ) != 0;
    h.m = (code & kExtendedM) != 0;
    code &= ~(kExtendedZ | kExtendedM | 0x20000000u);  // and an SRID flag, without its SRID
    if ((word_ = code) >= 1000 && code < 4000) {
      h.z = h.z || code / 1000 == 1 || code / 1000 == 3;
      h.m = h.m || code / 1000 >= 2;
      code %= 1000;
    }
    if (code < kPoint || code > kMultiPolygon) {
      fail("geometry type " + std::to_string(word_) +
           ", which no layer takes: a layer takes Points, LineStrings, Polygons and their Multi "
           "kinds");
    }
    h.type = code;
    return h;
  }

  // A position; an empty Point's, whose X and Y are NaN, is none.
  void position(const Header& h, bool orNone = false) {
    const double x = number(), y = number();
    std::optional<double> z, m;
    if (h.z) z = number();
    if (h.m) m = number();
    if (orNone && std::isnan(x) && std::isnan(y)) return;
    out_.add(x, y, z, m);
  }
  void point(const Header& h) { position(h, true); }
  void points(const Header& h) {
    for (std::uint32_t i = 0, n = count(); i < n; ++i) position(h);
  }
  void rings(const Header& h) {
    for (std::uint32_t i = 0, n = count(); i < n; ++i) {
      out_.startRing(i == 0);
      points(h);
    }
  }

  std::string_view in_;
  plan::Geometry& out_;
  std::size_t at_ = 0;
  bool swap_ = false;
  std::uint32_t word_ = 0;
};

}  // namespace

void read(std::string_view bytes, plan::Geometry& out) {
  Reader(bytes, out).geometry();
}

}  // namespace kelpy::wkb
