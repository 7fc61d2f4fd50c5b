#pragma once

// GDAL's reading of a shapefile, through tests/interop/gdal_dump.py, and the check that the
// library read the same: shape for shape, part for part, every coordinate bit for bit, and value
// for value as GDAL turns the table's text into values.

#include <bit>
#include <charconv>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/PeerTools.h"

namespace kel::testing {

inline const std::string kSourceDir = KEL_SOURCE_DIR;

struct GdalColumn {
  std::string name;
  int width = 0, precision = 0;
  char kind = 's';  // s text, i integer, r real, d date
};
struct GdalFeature {
  int type = 0;  // the shapefile type of its geometry, 0 for none
  std::vector<Pts> parts;
  std::vector<std::string> values;  // kind letter and value, or "-" for null
};
struct GdalLayer {
  std::vector<GdalColumn> columns;
  std::vector<GdalFeature> features;
};

inline std::string unhex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

// One spelling per double, so that equal text means the very same double.
inline std::string realValue(double v) {
  char buffer[32];
  return "r" + std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, v).ptr);
}

// gdal_dump.py's lines; with "--typed", as the format engine sees a file.
inline std::string gdalDumpOf(const std::string& shp, const std::string& options = "") {
  return run("/usr/bin/python3 " + quote(kSourceDir + "/tests/interop/gdal_dump.py") + " " +
             options + " " + quote(shp));
}

inline GdalLayer gdalRead(const std::string& shp) {
  std::istringstream out(gdalDumpOf(shp));
  GdalLayer layer;
  for (std::string word, line, hex; out >> word && std::getline(out, line);) {
    std::istringstream rest(line);
    if (word == "column") {
      GdalColumn& c = layer.columns.emplace_back();
      rest >> hex >> c.width >> c.precision >> c.kind;
      c.name = unhex(hex);
    } else if (word == "feature") {
      rest >> layer.features.emplace_back().type;
    } else if (word == "part") {
      // strtod, not >>, which refuses the subnormals
      Pts& part = layer.features.back().parts.emplace_back();
      for (char* at = line.data(); *at != '\0';) {
        char* end;
        double x = std::strtod(at, &end), y = std::strtod(end, &at);
        if (at == end) break;
        part.emplace_back(x, y);
      }
    } else if (word == "values") {
      for (std::string v; rest >> v;) {
        layer.features.back().values.push_back(v[0] == 's' ? "s" + unhex(v.substr(1))
                                               : v[0] == 'r'
                                                   ? realValue(std::strtod(v.c_str() + 1, nullptr))
                                                   : v);
      }
    }
  }
  return layer;
}

// A raw value of ours as GDAL makes it of the same bytes: a C string, so a zero byte ends it;
// blanks trimmed; a Number of asterisks or of nothing and a Date of zeros or of nothing are null;
// numbers read as strtod and strtoll read them.
inline std::string asGdalValue(const std::u16string& value, char kind) {
  std::string raw;
  for (char16_t c : value) raw += static_cast<char>(ansiCodeOf(c));
  raw = trim(raw.substr(0, raw.find('\0')));
  if (kind == 's') return "s" + raw;
  if (raw.empty() || raw[0] == '*' || (kind == 'd' && raw == "00000000")) return "-";
  if (kind == 'r') return realValue(std::strtod(raw.c_str(), nullptr));
  if (kind == 'i') return "i" + std::to_string(std::strtoll(raw.c_str(), nullptr, 10));
  return "d" + raw;
}

// A shape's vertices cut at its part starts; a point and a multipoint are one part.
inline std::vector<Pts> partsOfShape(const Ref<ShapeObject>& shape) {
  Pts pts = coordsOf(shape);
  Starts starts = partsOf(shape);
  std::vector<Pts> parts;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    std::size_t end = k + 1 < starts.size() ? starts[k + 1] : pts.size();
    parts.emplace_back(pts.begin() + starts[k], pts.begin() + std::min(end, pts.size()));
  }
  return parts;
}

inline ::testing::AssertionResult sameBits(const std::vector<Pts>& ours,
                                           const std::vector<Pts>& gdal) {
  if (ours.size() != gdal.size()) {
    return ::testing::AssertionFailure() << ours.size() << " parts, GDAL " << gdal.size();
  }
  auto bits = [](double v) { return std::bit_cast<std::uint64_t>(v); };
  for (std::size_t k = 0; k < ours.size(); ++k) {
    if (ours[k].size() != gdal[k].size()) {
      return ::testing::AssertionFailure()
             << "part " << k << ": " << ours[k].size() << " vertices, GDAL " << gdal[k].size();
    }
    for (std::size_t i = 0; i < ours[k].size(); ++i) {
      auto [x, y] = ours[k][i];
      auto [gx, gy] = gdal[k][i];
      if (bits(x) != bits(gx) || bits(y) != bits(gy)) {
        return ::testing::AssertionFailure() << "part " << k << " vertex " << i << ": " << x << " "
                                             << y << ", GDAL " << gx << " " << gy;
      }
    }
  }
  return ::testing::AssertionSuccess();
}

// The library's reading of a whole file against GDAL's. GDAL widens a Date column to 10 for
// its own YYYY/MM/DD text; every other width is the file's, as ours are.
inline void expectReadAsGdal(const Shapefile& file, const GdalLayer& gdal) {
  Ref<TableDescription> table = file.get_TableDescription();
  ASSERT_EQ(table->get_DescriptorCount(), static_cast<int>(gdal.columns.size()));
  for (std::int16_t j = 1; j <= table->get_DescriptorCount(); ++j) {
    Ref<TableDescriptor> d = table->getTableDescriptorByIndex(j);
    const GdalColumn& c = gdal.columns[j - 1];
    EXPECT_EQ(toUtf8(d->get_name()), c.name);
    EXPECT_EQ(d->get_width(), c.kind == 'd' ? 8 : c.width) << c.name;
    EXPECT_EQ(d->get_precision(), c.precision) << c.name;
  }
  ASSERT_EQ(file.get_ShapeObjectCount(), static_cast<int>(gdal.features.size()));
  for (std::int16_t i = 1; i <= file.get_ShapeObjectCount() && !::testing::Test::HasFailure();
       ++i) {
    SCOPED_TRACE("shape " + std::to_string(i));
    Ref<ShapeObject> shape = file.getShapeObject(i);
    const GdalFeature& f = gdal.features[i - 1];
    EXPECT_EQ(shape->get_ShapeType(), f.type);
    EXPECT_TRUE(sameBits(partsOfShape(shape), f.parts));
    std::vector<std::string> values;
    for (const auto& [name, value] : fieldsOf(shape->get_Record())) {
      values.push_back(asGdalValue(value, gdal.columns.at(values.size()).kind));
    }
    EXPECT_EQ(values, f.values);
  }
}

}  // namespace kel::testing
