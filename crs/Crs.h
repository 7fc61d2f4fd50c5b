#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// Coordinate reference systems through PROJ: a system read from any text that names or describes
// one, and coordinates carried from one system into another. Each object works in a PROJ context
// of its own, made and dropped with it, so that objects on different threads share nothing.
namespace kel::crs {

// Why a system cannot be read, written or reached: a sentence for the user.
class CrsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A coordinate reference system, held as its descriptions: a value, copied freely.
class Crs {
 public:
  // Reads an authority code ("EPSG:2263", "urn:ogc:def:crs:EPSG::2263"), WKT1 (ESRI's as in a
  // .prj file, or OGC's), WKT2 or PROJJSON. Throws CrsError with PROJ's reason for text that
  // names no coordinate reference system.
  static Crs parse(std::string_view text);

  // "NAD83 / New York Long Island (ftUS)".
  const std::string& name() const noexcept { return name_; }
  // "EPSG:2263": the system's own identifier, else the EPSG code PROJ finds it to be with a
  // confidence of at least kIdentified percent; none otherwise.
  const std::optional<std::string>& authorityCode() const noexcept { return code_; }
  // The code as an OGC URN, "urn:ogc:def:crs:EPSG::2263", as GeoJSON's "crs" member names it.
  std::optional<std::string> urn() const;
  // ESRI's WKT1, the text of a .prj file, on one line. Throws CrsError for a system it cannot
  // describe (a compound or vertical one).
  std::string esriWkt() const;
  // OGC WKT2 (2019), on one line, and PROJJSON.
  const std::string& wkt2() const noexcept { return wkt2_; }
  const std::string& projJson() const noexcept { return projJson_; }
  // Whether it is WGS 84 longitude and latitude in degrees, axis order aside: what RFC 7946
  // GeoJSON assumes.
  bool isWgs84() const noexcept { return wgs84_; }

  static constexpr int kIdentified = 70;

 private:
  std::string name_, wkt2_, projJson_;
  std::optional<std::string> esriWkt_, code_;
  bool wgs84_ = false;
};

// Carries coordinates from one system into another, longitude (easting) first and latitude
// (northing) second whatever order the systems' axes have, as GIS programs give them.
class Transformer {
 public:
  // Throws CrsError when PROJ knows no way between the two.
  Transformer(const Crs& from, const Crs& to);
  ~Transformer();
  Transformer(Transformer&&) noexcept;
  Transformer& operator=(Transformer&&) noexcept;

  // Transforms the `count` points (x[i * stride], y[i * stride]) in place. Throws CrsError naming
  // the first point (counted from 1) that cannot be transformed; the points are then partly
  // transformed.
  void transform(double* x, double* y, std::size_t count, std::size_t stride = 1);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kel::crs
