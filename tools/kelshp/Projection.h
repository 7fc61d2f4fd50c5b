#pragma once

#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "kel/geojson/Geometry.h"

// The coordinate reference systems that kelshp reads from .prj files and GeoJSON "crs" members,
// writes and transforms coordinates between, through PROJ (kel/crs) when the build has it.
namespace kelshp {

// A system that cannot be read or reached, or an option that needs PROJ in a build without it:
// a sentence for the user.
class ProjectionError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Whether this build reads coordinate reference systems.
bool haveProj();

// The .prj file's system for `info`: "NAD83 / New York Long Island (ftUS) (EPSG:2263)", its name
// alone when PROJ finds no authority code, or why it cannot be read.
std::string describePrj(const std::string& prj);

// Carries a geometry's coordinates into another system.
class Reprojection {
 public:
  virtual ~Reprojection() = default;
  virtual void apply(kel::geojson::Geometry& geometry) = 0;
  virtual void apply(std::vector<double>& x, std::vector<double>& y) = 0;
};

// How a layer's features go into GeoJSON: the "crs" member's name (empty: none) and the
// transformation of their coordinates (none: kept as they are).
struct GeoJsonCrs {
  std::string member;
  std::unique_ptr<Reprojection> reprojection;
};

// For a layer whose .prj file holds `prj` (none without one), named `layer` in the messages:
// `toCrs` is the system asked for, `rfc7946` asks for WGS 84 without a member. A system other
// than WGS 84 is named by its authority code's URN, or by its WKT when it has no code, with one
// warning that RFC 7946 readers take the coordinates for WGS 84. Throws ProjectionError.
GeoJsonCrs geoJsonCrs(const std::optional<std::string>& prj, const std::string& layer,
                      const std::optional<std::string>& toCrs, bool rfc7946);

// What a shapefile written from GeoJSON gets: its .prj text (none: no .prj file) and the
// transformation of the coordinates. `member` is the "crs" member's name when the collection has
// one (`hasMember` tells a member without a name), `degrees` whether every coordinate can be a
// longitude and latitude (canBeDegrees). Warns when no .prj is written. Throws
// ProjectionError.
struct ShapefileCrs {
  std::optional<std::string> prj;
  std::unique_ptr<Reprojection> reprojection;
};
ShapefileCrs shapefileCrs(const std::string& in, bool hasMember,
                          const std::optional<std::string>& member, bool degrees,
                          const std::optional<std::string>& toCrs);

// The options of the commands that write GeoJSON: --to-crs CRS and --rfc7946, which exclude
// each other (UsageError).
struct Arguments;
struct GeoJsonOptions {
  std::optional<std::string> toCrs;
  bool rfc7946 = false;
};
GeoJsonOptions geoJsonOptions(const Arguments& arguments);

// Whether a longitude and latitude can be (x, y): |x| <= 180 and |y| <= 90, give or take a
// billionth of a degree for rounding (Natural Earth's countries reach 180.00000000000006).
inline bool canBeDegrees(double x, double y) {
  constexpr double kRounding = 1e-9;
  return std::abs(x) <= 180 + kRounding && std::abs(y) <= 90 + kRounding;
}

}  // namespace kelshp
