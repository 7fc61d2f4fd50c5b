#include "FeatureCollection.h"

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "Output.h"
#include "kel/format/ShapeType.h"
#include "kel/geojson/Geometry.h"
#include "kel/runtime/Text.h"

namespace kelshp {

namespace {

namespace format = kel::format;
using kel::geojson::Geometry;
using kel::geojson::GeometryType;
using kel::geojson::Point;
using kel::geojson::Polygon;
using kel::geojson::Ring;

template <class T, class F>
std::string list(const std::vector<T>& items, F&& each) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + each(items[i]);
  return out + "]";
}

// The geometry's coordinates nested as GeoJSON nests them, each vertex as `vertex` writes it.
template <class F>
std::string nested(const Geometry& g, F&& vertex) {
  auto ring = [&](const Ring& r) { return list(r, vertex); };
  auto polygon = [&](const Polygon& p) {
    std::string out = "[" + ring(p.outer);
    for (const Ring& hole : p.holes) out += "," + ring(hole);
    return out + "]";
  };
  switch (g.type) {
    case GeometryType::Null:
      return "null";
    case GeometryType::Point:
      return vertex(g.lines[0][0]);
    case GeometryType::MultiPoint:
    case GeometryType::LineString:
      return ring(g.lines[0]);
    case GeometryType::MultiLineString:
      return list(g.lines, ring);
    case GeometryType::Polygon:
      return polygon(g.polygons[0]);
    case GeometryType::MultiPolygon:
      return list(g.polygons, polygon);
  }
  return "null";
}

std::string json(const format::Value& value) {
  struct Visitor {
    std::string operator()(format::Null) const { return "null"; }
    std::string operator()(std::int64_t i) const { return std::to_string(i); }
    std::string operator()(double d) const { return number(d); }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(const format::Date& d) const {
      char text[16];
      std::snprintf(text, sizeof text, "\"%04d-%02d-%02d\"", d.year, d.month, d.day);
      return text;
    }
    std::string operator()(const std::string& s) const { return jsonString(kel::toUtf16(s)); }
    std::string operator()(const format::RawBytes& r) const {
      return jsonString(kel::toUtf16(r.bytes));
    }
  };
  return std::visit(Visitor{}, value);
}

// Writes the layer's features, one a record.
class Dump {
 public:
  Dump(format::Layer& layer, Warnings& warnings, bool raw, format::SelectedRecords& records,
       Reprojection* reprojection)
      : layer_(layer), warnings_(warnings), raw_(raw), reprojection_(reprojection),
        records_(records) {
    if (format::TableReader* table = layer.table()) {
      // A repeated name keeps its first value.
      for (std::size_t c : records.columns()) {
        std::string name = jsonString(kel::toUtf16(table->columns()[c].name));
        bool repeated = false;
        for (const auto& [earlier, at] : columns_) repeated = repeated || earlier == name;
        if (!repeated) columns_.emplace_back(name, c);
      }
    }
  }

  // The record the selection is at.
  std::string feature() {
    std::string geometry = "null", measures, why;
    const std::int64_t i = records_.index();
    if (!records_.shapeRead()) {
      why = warnings_.lastError() ? warnings_.lastError()->sentence : "the record cannot be read";
    } else {
      Geometry g = kel::geojson::geometryOf(records_.shape());
      why = kel::geojson::whyInvalid(g);
      if (why.empty() && reprojection_ != nullptr) {
        try {
          reprojection_->apply(g);
        } catch (const std::exception& e) {
          why = e.what();
          warn(layer_.basePath() + ".shp: record " + std::to_string(i + 1) + ": " + why +
               "; its geometry is written as null");
        }
      }
      if (!g.grouped) {
        warn(layer_.basePath() + ".shp: record " + std::to_string(i + 1) +
             ": ring grouping stopped at its budget; the holes left stand as polygons");
      }
      if (why.empty() && g.type != GeometryType::Null) {
        bool z = g.hasZ;
        geometry = R"({"type":")" + std::string(kel::geojson::nameOf(g.type)) +
                   R"(","coordinates":)" +
                   nested(g,
                          [z](const Point& p) {
                            return "[" + number(p.x) + "," + number(p.y) +
                                   (z ? "," + number(p.z) : "") + "]";
                          }) +
                   "}";
        if (g.hasM) {
          measures = nested(g, [](const Point& p) {
            return p.m < format::kNoMeasureBelow ? std::string("null") : number(p.m);
          });
        }
      }
    }
    std::string out = R"({"type":"Feature","geometry":)" + geometry;
    if (!measures.empty()) out += R"(,"measures":)" + measures;
    if (!why.empty()) out += R"(,"kelshp:invalid":)" + jsonString(kel::toUtf16(why));
    return out + R"(,"properties":)" + properties() + "}";
  }

 private:
  std::string properties() {
    format::TableReader* table = layer_.table();
    if (!records_.row()) return "{}";
    const format::RowView& row = *records_.row();
    std::string out = "{";
    for (const auto& [name, c] : columns_) {
      out += (out.size() > 1 ? "," : "") + name + ":";
      out += raw_ ? jsonString(kel::toUtf16(table->text(row.field(table->columns()[c]))))
                  : json(table->value(row, c));
    }
    return out + "}";
  }

  format::Layer& layer_;
  Warnings& warnings_;
  bool raw_;
  Reprojection* reprojection_;
  std::vector<std::pair<std::string, std::size_t>> columns_;  // JSON name and column
  format::SelectedRecords& records_;
};

}  // namespace

void writeFeatureCollection(format::Layer& layer, Warnings& warnings, bool raw,
                            const GeoJsonCrs& crs, const format::Selection& selection,
                            const std::function<void(std::string_view)>& sink,
                            const std::function<void(std::int64_t)>& progress) {
  format::SelectedRecords records(layer, selection);
  Dump dump(layer, warnings, raw, records, crs.reprojection.get());
  sink(R"({"type":"FeatureCollection",)");
  if (!crs.member.empty()) {
    sink(R"("crs":{"type":"name","properties":{"name":)" + jsonString(kel::toUtf16(crs.member)) +
         "}},");
  }
  sink(R"("features":[)");
  for (bool first = true; records.next(); first = false) {
    sink((first ? "\n" : ",\n") + dump.feature());
    if (progress) progress(records.index() + 1);
  }
  sink("\n]}\n");
}

int printFeatureCollection(format::Layer& layer, Warnings& warnings, bool raw,
                           const GeoJsonCrs& crs, const format::Selection& selection,
                           const std::function<void(std::int64_t)>& progress) {
  writeFeatureCollection(
      layer, warnings, raw, crs, selection,
      [](std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }, progress);
  return std::fflush(stdout) == 0 ? 0 : fail("standard output: write failed");
}

}  // namespace kelshp
