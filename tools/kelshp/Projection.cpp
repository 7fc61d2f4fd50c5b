#include "Projection.h"

#include "Tool.h"

#ifdef KEL_WITH_PROJ
#include "kel/crs/Crs.h"
#endif

namespace kelshp {

namespace {

// RFC 7946 coordinates are longitudes and latitudes on WGS 84: the .prj file that says so.
constexpr const char* kWgs84 =
    "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,"
    "298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";

#ifndef KEL_WITH_PROJ
// A "crs" member's name that says WGS 84 longitude and latitude, as a build without PROJ knows it.
bool namesWgs84(const std::string& crs) {
  return crs.ends_with(":CRS84") || crs.ends_with("::4326") || crs == "EPSG:4326" ||
         (crs.find("EPSG") != std::string::npos && crs.ends_with(":4326"));
}

[[noreturn]] void lacking(const std::string& what) {
  throw ProjectionError(what + " needs PROJ, which this build of kelshp lacks");
}
#else

using kel::crs::Crs;
using kel::crs::CrsError;

class ProjReprojection final : public Reprojection {
 public:
  ProjReprojection(const Crs& from, const Crs& to) : transformer_(from, to) {}

  void apply(kel::geojson::Geometry& g) override {
    constexpr std::size_t kStride = sizeof(kel::geojson::Point) / sizeof(double);
    static_assert(kStride * sizeof(double) == sizeof(kel::geojson::Point));
    auto ring = [&](kel::geojson::Ring& r) {
      if (!r.empty()) transformer_.transform(&r[0].x, &r[0].y, r.size(), kStride);
    };
    for (kel::geojson::Ring& line : g.lines) ring(line);
    for (kel::geojson::Polygon& p : g.polygons) {
      ring(p.outer);
      for (kel::geojson::Ring& hole : p.holes) ring(hole);
    }
  }

  void apply(std::vector<double>& x, std::vector<double>& y) override {
    transformer_.transform(x.data(), y.data(), x.size());
  }

 private:
  kel::crs::Transformer transformer_;
};

Crs parse(const std::string& text, const std::string& what) {
  try {
    return Crs::parse(text);
  } catch (const CrsError& e) {
    throw ProjectionError(what + ": " + e.what());
  }
}

std::string named(const Crs& crs) {
  return crs.name() + (crs.authorityCode() ? " (" + *crs.authorityCode() + ")" : "");
}

std::unique_ptr<Reprojection> between(const Crs& from, const Crs& to) {
  try {
    return std::make_unique<ProjReprojection>(from, to);
  } catch (const CrsError& e) {
    throw ProjectionError(e.what());
  }
}

#endif

}  // namespace

GeoJsonOptions geoJsonOptions(const Arguments& a) {
  GeoJsonOptions options;
  if (a.has("to-crs")) options.toCrs = a.given.at("to-crs");
  options.rfc7946 = a.has("rfc7946");
  if (options.toCrs && options.rfc7946) {
    throw UsageError("--to-crs and --rfc7946 exclude each other: RFC 7946 GeoJSON is in WGS 84");
  }
  return options;
}

bool haveProj() {
#ifdef KEL_WITH_PROJ
  return true;
#else
  return false;
#endif
}

std::string describePrj(const std::string& prj) {
#ifdef KEL_WITH_PROJ
  try {
    return named(Crs::parse(prj));
  } catch (const CrsError& e) {
    return std::string("unreadable: ") + e.what();
  }
#else
  (void)prj;
  return "a .prj file (this build of kelshp lacks PROJ to read it)";
#endif
}

GeoJsonCrs geoJsonCrs(const std::optional<std::string>& prj, const std::string& layer,
                      const std::optional<std::string>& toCrs, bool rfc7946) {
  GeoJsonCrs out;
#ifdef KEL_WITH_PROJ
  std::optional<Crs> source;
  if (prj) {
    try {
      source = Crs::parse(*prj);
    } catch (const CrsError& e) {
      if (toCrs || rfc7946) throw ProjectionError(layer + ".prj: " + e.what());
      warn(layer + ".prj: " + e.what() + "; the GeoJSON names no coordinate reference system");
      return out;
    }
  }
  std::optional<Crs> target = source;
  if (toCrs || rfc7946) {
    target = toCrs ? parse(*toCrs, "--to-crs") : Crs::parse("EPSG:4326");
    if (!source) {
      throw ProjectionError(layer + ".shp has no .prj file: its coordinates' system is unknown, "
                            "so they cannot be transformed");
    }
    out.reprojection = between(*source, *target);
  }
  if (target && !target->isWgs84() && !rfc7946) {
    std::optional<std::string> urn = target->urn();
    out.member = urn ? *urn : target->esriWkt();
    warn(layer + ".shp: the GeoJSON's coordinates are in " + named(*target) +
         ", which its \"crs\" member names; RFC 7946 readers take them for WGS 84 longitudes "
         "and latitudes (--rfc7946 transforms them so)");
  }
#else
  if (toCrs) lacking("--to-crs");
  if (rfc7946) lacking("--rfc7946");
  if (prj) {
    warn(layer + ".prj is not read (this build of kelshp lacks PROJ): the GeoJSON names no "
         "coordinate reference system");
  }
#endif
  return out;
}

ShapefileCrs shapefileCrs(const std::string& in, bool hasMember,
                          const std::optional<std::string>& member, bool degrees,
                          const std::optional<std::string>& toCrs) {
  ShapefileCrs out;
#ifdef KEL_WITH_PROJ
  std::optional<Crs> source;
  if (member) {
    source = parse(*member, in + ": its \"crs\" member");
  } else if (!hasMember && degrees) {
    source = Crs::parse("EPSG:4326");  // as RFC 7946 has it
  }
  if (toCrs) {
    Crs target = parse(*toCrs, "--to-crs");
    if (!source) {
      throw ProjectionError(
          in + ": the coordinates' system is unknown (" +
          (hasMember ? "its \"crs\" member names none" : "no \"crs\" member, and coordinates "
                                                          "that cannot be degrees") +
          "), so they cannot be transformed");
    }
    out.reprojection = between(*source, target);
    source = std::move(target);
  }
  if (source) {
    try {
      out.prj = source->isWgs84() ? std::string(kWgs84) : source->esriWkt();
    } catch (const CrsError& e) {
      throw ProjectionError(in + ": " + e.what());
    }
    return out;
  }
#else
  if (toCrs) lacking("--to-crs");
  if (member && !namesWgs84(*member)) lacking(in + ": its \"crs\" member " + *member);
  if ((member && namesWgs84(*member)) || (!hasMember && degrees)) {
    out.prj = kWgs84;
    return out;
  }
#endif
  warn(in + ": " +
       (hasMember ? std::string("its \"crs\" member names no coordinate reference system")
                  : std::string("no \"crs\" member, and coordinates that cannot be WGS 84 "
                                "longitudes and latitudes")) +
       "; no .prj file is written");
  return out;
}

}  // namespace kelshp
