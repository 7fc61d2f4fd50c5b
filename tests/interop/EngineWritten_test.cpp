// Layers that the format engine writes, of every shape type with Z, M and "no measure" values,
// null shapes and a table of every column type, in UTF-8 and in Windows-1252, must read in GDAL
// (ogrinfo without a word on standard error), shapelib and pyshp as they were written:
// tests/interop/engine_peers.py reads them with all three and compares.

#include <gtest/gtest.h>

#include <charconv>
#include <fstream>

#include "support/EngineWriting.h"
#include "support/GdalReading.h"

using namespace kel::testing;

namespace {

std::string number(double d) {
  char buffer[32];
  return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, d).ptr);
}

std::string jsonText(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string jsonValue(const fmt::Value& v) {
  struct {
    std::string operator()(fmt::Null) const { return "null"; }
    std::string operator()(std::int64_t i) const { return std::to_string(i); }
    std::string operator()(double d) const { return number(d); }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(const fmt::Date& d) const {
      return "[" + std::to_string(d.year) + "," + std::to_string(d.month) + "," +
             std::to_string(d.day) + "]";
    }
    std::string operator()(const std::string& s) const { return jsonText(s); }
    std::string operator()(const fmt::RawBytes&) const { return "null"; }
  } visit;
  return std::visit(visit, v);
}

// What the writer was given, as engine_peers.py reads it.
std::string expectedJson(fmt::ShapeType type, const std::string& encoding,
                         const std::vector<EngineRecord>& records) {
  std::string out = "{\"type\":" + std::to_string(static_cast<int>(type)) +
                    ",\"encoding\":" + jsonText(encoding) + ",\"columns\":[";
  for (const fmt::ColumnDefinition& c : kEngineColumns) {
    out += (&c == &kEngineColumns.front() ? "[" : ",[") + jsonText(c.name) + ",\"" + c.type +
           "\"," + std::to_string(c.width) + "," + std::to_string(c.decimals) + "]";
  }
  out += "],\"records\":[";
  for (const EngineRecord& r : records) {
    out += (&r == &records.front() ? "{" : ",{") + std::string("\"type\":") +
           std::to_string(static_cast<int>(r.type)) + ",\"parts\":[";
    for (std::size_t i = 0; i < r.parts.size(); ++i) {
      out += (i ? "," : "") + std::to_string(r.parts[i]);
    }
    out += "],\"v\":[";
    for (std::size_t i = 0; i < r.points.size(); ++i) {
      out += (i ? ",[" : "[") + number(r.points[i].x) + "," + number(r.points[i].y);
      if (!r.z.empty()) out += "," + number(r.z[i]);
      if (!r.m.empty()) out += "," + (r.m[i] < fmt::kNoMeasureBelow ? "null" : number(r.m[i]));
      out += "]";
    }
    out += "],\"values\":[";
    for (std::size_t i = 0; i < r.row.size(); ++i) out += (i ? "," : "") + jsonValue(r.row[i]);
    out += "]}";
  }
  return out + "]}";
}

}  // namespace

TEST(EngineWritten, EveryTypeReadsInGdalShapelibAndPyshpAsWritten) {
  TempDir dir;
  std::string arguments;
  const std::string wgs84 =
      "GEOGCS[\"GCS_WGS_1984\",DATUM[\"D_WGS_1984\",SPHEROID[\"WGS_1984\",6378137.0,"
      "298.257223563]],PRIMEM[\"Greenwich\",0.0],UNIT[\"Degree\",0.0174532925199433]]";
  for (std::int32_t code : {1, 3, 5, 8, 11, 13, 15, 18, 21, 23, 25, 28, 31}) {
    auto type = static_cast<fmt::ShapeType>(code);
    for (std::string encoding : {"UTF-8", "CP1252"}) {
      std::string stem = "t" + std::to_string(code) + encoding;
      fmt::WriteOptions options;
      options.encoding = encoding;
      options.projection = wgs84;
      std::vector<EngineRecord> records = engineRecords(type);
      writeLayer(dir.native(stem + ".shp"), type, records, options);
      dir.write(stem + ".json", expectedJson(type, encoding, records));
      arguments += " " + quote(dir.native(stem + ".shp")) + " " + quote(dir.native(stem + ".json"));
    }
  }
  Outcome peers = execute("/usr/bin/python3 " +
                          quote(kSourceDir + "/tests/interop/engine_peers.py") + arguments);
  EXPECT_EQ(peers.status, 0) << peers.out << peers.err;
}
