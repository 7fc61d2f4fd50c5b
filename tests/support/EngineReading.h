#pragma once

// The readings of a shapefile held against each other: GDAL's (through
// tests/interop/gdal_dump.py) against the format engine's (format/Layer.h), feature for feature,
// every coordinate with its Z and M bit for bit and every value as GDAL types and decodes it; and
// the object model's against the engine's, shape for shape and every field's bytes. GDAL shares
// no code with either. Where the engine parts from GDAL on purpose (doc/interoperability.md), the
// comparison follows the engine: a table that names no encoding, or has the language driver mark
// 0x57 and no .cpg file, is Windows-1252 (GDAL is asked for that too); GDAL leaves out a layer's M
// values when its first record holds none but "no data", and a MultiPatch's always; a Logical
// value is GDAL's letter; a Date column is 8 wide, not GDAL's 10; GDAL turns a MultiPatch's
// strips and fans into triangles, which the comparison makes of the engine's parts too.

#include <bit>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "kel/format/Layer.h"
#include "support/GdalReading.h"

namespace kel::testing {

struct TypedColumn {
  std::string name;
  int width = 0, precision = 0;
  char kind = 's';  // s String, i Integer, l Integer64, r Real, d Date
};
struct TypedFeature {
  std::string geometry = "none";  // the WKT name
  std::string dims = "xy";
  std::vector<std::vector<double>> leaves;  // each vertex's coordinates in `dims` order
  std::vector<std::string> values;          // kind letter and value, "-" for null
};
struct TypedLayer {
  std::string encoding;  // "-" for none
  std::vector<TypedColumn> columns;
  std::vector<TypedFeature> features;
};

// GDAL's reading with its own settings; `encoding`, when given, is the one GDAL is told to use.
inline TypedLayer gdalReadTyped(const std::string& shp, const std::string& encoding = "") {
  std::istringstream out(gdalDumpOf(shp, encoding.empty() ? "" : "--encoding " + encoding));
  TypedLayer layer;
  for (std::string word, line, hex; out >> word && std::getline(out, line);) {
    std::istringstream rest(line);
    if (word == "encoding") {
      rest >> layer.encoding;
    } else if (word == "column") {
      TypedColumn& c = layer.columns.emplace_back();
      rest >> hex >> c.width >> c.precision >> c.kind;
      c.name = unhex(hex);
    } else if (word == "feature") {
      TypedFeature& f = layer.features.emplace_back();
      rest >> f.geometry >> f.dims;
    } else if (word == "part") {
      std::vector<double>& leaf = layer.features.back().leaves.emplace_back();
      for (char *at = line.data(), *end;; at = end) {  // strtod: >> refuses the subnormals
        double v = std::strtod(at, &end);
        if (at == end) break;
        leaf.push_back(v);
      }
    } else if (word == "values") {
      for (std::string v; rest >> v;) {
        layer.features.back().values.push_back(
            v[0] == 's'   ? "s" + unhex(v.substr(1))
            : v[0] == 'r' ? realValue(std::strtod(v.c_str() + 1, nullptr))
            : v[0] == 'l' ? "i" + v.substr(1)  // the engine has one integer type
                          : v);
      }
    }
  }
  return layer;
}

// A value of the engine in the form gdalReadTyped gives GDAL's.
inline std::string typedValue(const format::Value& v) {
  struct {
    std::string operator()(format::Null) const { return "-"; }
    std::string operator()(std::int64_t i) const { return "i" + std::to_string(i); }
    std::string operator()(double d) const { return realValue(d); }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(const format::Date& d) const {
      return "d" + std::to_string(d.year) + "-" + std::to_string(d.month) + "-" +
             std::to_string(d.day);
    }
    std::string operator()(const std::string& s) const { return "s" + s; }
    std::string operator()(const format::RawBytes& r) const { return "raw" + r.bytes; }
  } visit;
  return std::visit(visit, v);
}

// GDAL's Logical text as the engine's values.
inline std::string logicalOf(const std::string& gdal) {
  if (gdal == "s?") return "-";
  if (gdal.size() != 2 || gdal[0] != 's') return gdal;
  std::string_view yes = "TtYy", no = "FfNn";
  return yes.find(gdal[1]) != yes.npos ? "true" : no.find(gdal[1]) != no.npos ? "false" : gdal;
}

// The leaves GDAL makes of a MultiPatch: the triangles of each strip (0) and fan (1) in part
// order, then the rings in part order, with X, Y and Z.
inline std::vector<std::vector<double>> patchLeaves(const format::ShapeView& v) {
  std::vector<std::vector<double>> triangles, rings;
  auto vertex = [&](std::vector<double>& leaf, std::size_t i) {
    leaf.insert(leaf.end(), {v.points[i].x, v.points[i].y, v.z[i]});
  };
  for (std::size_t k = 0; k < v.parts.size(); ++k) {
    std::size_t from = static_cast<std::size_t>(v.parts[k]);
    std::size_t to =
        k + 1 < v.parts.size() ? static_cast<std::size_t>(v.parts[k + 1]) : v.points.size();
    if (v.partTypes[k] > 1) {
      vertex(rings.emplace_back(), from);
      for (std::size_t i = from + 1; i < to; ++i) vertex(rings.back(), i);
      continue;
    }
    for (std::size_t i = from; i + 2 < to; ++i) {
      std::vector<double>& t = triangles.emplace_back();
      std::size_t a = v.partTypes[k] == 0 ? i : from;  // a fan turns about its first vertex
      for (std::size_t j : {a, i + 1, i + 2, a}) vertex(t, j);
    }
  }
  triangles.insert(triangles.end(), rings.begin(), rings.end());
  return triangles;
}

// The engine's record in GDAL's form. `gdal` is GDAL's feature: its geometry's name is taken
// when it is one that GDAL gives the record's type, and its M values when the record has them.
inline TypedFeature typedFeature(const format::ShapeView& v, const TypedFeature& gdal) {
  TypedFeature f;
  if (v.type == format::ShapeType::Null) return f;
  format::ShapeTypeTraits t = *format::traitsOf(static_cast<std::int32_t>(v.type));
  using G = format::Geometry;
  std::vector<std::string> names =
      t.geometry == G::Point        ? std::vector<std::string>{"POINT"}
      : t.geometry == G::MultiPoint ? std::vector<std::string>{"MULTIPOINT"}
      : t.geometry == G::PolyLine   ? std::vector<std::string>{"LINESTRING", "MULTILINESTRING"}
      : t.geometry == G::Polygon
          ? std::vector<std::string>{"POLYGON", "MULTIPOLYGON"}
          : std::vector<std::string>{"TIN", "POLYGON", "MULTIPOLYGON", "GEOMETRYCOLLECTION"};
  f.geometry = std::find(names.begin(), names.end(), gdal.geometry) != names.end() ? gdal.geometry
                                                                                   : names[0];
  bool m = t.m && !v.m.empty() && gdal.dims.find('m') != std::string::npos;
  f.dims = std::string("xy") + (t.z ? "z" : "") + (m ? "m" : "");
  if (t.geometry == G::MultiPatch) {
    f.leaves = patchLeaves(v);
    return f;
  }
  auto leaf = [&](std::size_t from, std::size_t to) {
    std::vector<double>& l = f.leaves.emplace_back();
    for (std::size_t i = from; i < to; ++i) {
      l.insert(l.end(), {v.points[i].x, v.points[i].y});
      if (t.z) l.push_back(v.z[i]);
      if (m) l.push_back(v.m[i]);
    }
  };
  if (v.points.empty()) return f;
  if (v.parts.empty()) leaf(0, v.points.size());
  for (std::size_t k = 0; k < v.parts.size(); ++k) {
    leaf(static_cast<std::size_t>(v.parts[k]),
         k + 1 < v.parts.size() ? static_cast<std::size_t>(v.parts[k + 1]) : v.points.size());
  }
  return f;
}

// Each double's bits, so that -0.0, subnormals and NaN payloads count.
inline std::vector<std::vector<std::uint64_t>> bitsOf(const std::vector<std::vector<double>>& v) {
  std::vector<std::vector<std::uint64_t>> out;
  for (const auto& leaf : v) {
    std::vector<std::uint64_t>& bits = out.emplace_back();
    for (double d : leaf) bits.push_back(std::bit_cast<std::uint64_t>(d));
  }
  return out;
}

// Whether GDAL types a column as the engine does: integers, reals, dates, or text.
inline bool sameKind(const format::FieldDescriptor& d, char gdal) {
  char engine = format::holdsIntegers(d)         ? 'i'
                : d.type == 'N' || d.type == 'F' ? 'r'
                : d.type == 'D'                  ? 'd'
                                                 : 's';
  return engine == (gdal == 'l' ? 'i' : gdal);
}

// The engine's reading of the layer at `shp` against GDAL's, with the differences described at
// the top of this file.
inline void expectEngineReadsAsGdal(const std::string& shp) {
  format::CollectingReporter reporter;
  std::unique_ptr<format::Layer> layer = format::Layer::open(shp, reporter);
  ASSERT_TRUE(layer) << ::testing::PrintToString(reporter.findings.size());
  format::TableReader* table = layer->table();
  TypedLayer gdal = gdalReadTyped(shp);
  if (gdal.encoding != layer->encoding()) {
    bool cpg = std::filesystem::exists(layer->basePath() + ".cpg");
    std::uint8_t mark = table != nullptr ? table->header().languageDriver : 0;
    EXPECT_EQ(layer->encoding(), "CP1252");
    EXPECT_TRUE(gdal.encoding == "-" || (gdal.encoding == "ISO-8859-1" && mark == 0x57 && !cpg))
        << "GDAL reads the text as " << gdal.encoding << ", the engine as " << layer->encoding();
    gdal = gdalReadTyped(shp, layer->encoding());
  }

  const std::size_t columns = table != nullptr ? table->columns().size() : 0;
  ASSERT_EQ(columns, gdal.columns.size());
  for (std::size_t c = 0; c < columns; ++c) {
    const format::Column& ours = table->columns()[c];
    const TypedColumn& theirs = gdal.columns[c];
    EXPECT_EQ(ours.name, theirs.name);
    EXPECT_EQ(ours.descriptor.width, theirs.kind == 'd' ? 8 : theirs.width) << ours.name;
    EXPECT_EQ(ours.descriptor.decimals, theirs.precision) << ours.name;
    EXPECT_TRUE(sameKind(ours.descriptor, theirs.kind))
        << ours.name << ": " << ours.descriptor.type << " column, GDAL's kind " << theirs.kind;
  }

  ASSERT_EQ(layer->count(), static_cast<std::int64_t>(gdal.features.size()));
  format::ShapeView view;
  for (std::int64_t i = 0; i < layer->count() && !::testing::Test::HasFailure(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i));
    TypedFeature theirs = gdal.features[static_cast<std::size_t>(i)];
    ASSERT_TRUE(layer->shapes().read(i, view));
    TypedFeature ours = typedFeature(view, theirs);
    EXPECT_EQ(ours.geometry, theirs.geometry);
    EXPECT_EQ(ours.dims, theirs.dims);
    EXPECT_EQ(bitsOf(ours.leaves), bitsOf(theirs.leaves))
        << ::testing::PrintToString(ours.leaves) << "\nGDAL "
        << ::testing::PrintToString(theirs.leaves);
    if (table == nullptr || i >= table->count()) continue;
    format::RowView row = table->read(i);
    for (std::size_t c = 0; c < columns; ++c) {
      ours.values.push_back(typedValue(table->value(row, c)));
      if (table->columns()[c].descriptor.type == 'L')
        theirs.values[c] = logicalOf(theirs.values[c]);
    }
    EXPECT_EQ(ours.values, theirs.values);
  }
}

// Reads dir/stem into `file` and holds the object model's reading against the engine's. The model
// reads no record of a type other than Point, PolyLine, Polygon and MultiPoint, and a null shape
// ends its read with the shapes before it and none of their records; either way the read fails.
// Returns whether the model read the layer whole.
inline bool modelReadsAsEngine(Shapefile& file, const std::string& dir, const std::string& stem) {
  format::CollectingReporter reporter;
  std::unique_ptr<format::Layer> layer = format::Layer::open(dir + "/" + stem, reporter);
  bool read = file.readShapefile(toUtf16(dir), toUtf16(stem));
  if (!layer) {
    ADD_FAILURE() << "the engine cannot open " << stem;
    return false;
  }
  std::int32_t type = layer->shapes().header().shapeType;
  if (type != kelPoint && type != kelPolyLine && type != kelPolygon && type != kelMultiPoint) {
    EXPECT_FALSE(read);
    EXPECT_EQ(file.get_ShapeType(), type);
    EXPECT_EQ(file.get_ShapeObjectCount(), 0);
    return false;
  }
  auto bits = [](const auto& points) {
    std::vector<double> xy;
    for (const auto& p : points) xy.insert(xy.end(), {p.x, p.y});
    return bitsOf({xy});
  };
  format::ShapeView v;
  std::int64_t n = 0;  // the shapes before the first null one
  for (; n < layer->count() && layer->shapes().read(n, v) && v.type != format::ShapeType::Null;
       ++n) {
    if (n >= file.get_ShapeObjectCount()) continue;
    SCOPED_TRACE("shape " + std::to_string(n + 1));
    Ref<ShapeObject> shape = file.getShapeObject(static_cast<std::int16_t>(n + 1));
    EXPECT_EQ(shape->get_ShapeType(), static_cast<std::int32_t>(v.type));
    EXPECT_EQ(partsOf(shape), v.parts.empty() ? Starts{0} : Starts(v.parts.begin(), v.parts.end()));
    std::vector<format::XY> ours;
    for (auto [x, y] : coordsOf(shape)) ours.push_back({x, y});
    EXPECT_EQ(bits(ours), bits(v.points));
  }
  const bool whole = n == layer->count();
  EXPECT_EQ(read, whole);
  EXPECT_EQ(file.get_ShapeObjectCount(), n);
  if (!whole) {  // a null shape
    EXPECT_EQ(file.get_ShapeType(), 0);
    for (std::int16_t i = 1; i <= n && i <= file.get_ShapeObjectCount(); ++i) {
      EXPECT_EQ(file.getShapeObject(i)->get_Record()->get_FieldCount(), 0);
    }
    return false;
  }
  format::TableReader* table = layer->table();
  const std::size_t columns = table != nullptr ? table->columns().size() : 0;
  Ref<TableDescription> description = file.get_TableDescription();
  EXPECT_EQ(description->get_DescriptorCount(), static_cast<std::int16_t>(columns));
  for (std::size_t c = 0; c < columns && c < std::size_t(description->get_DescriptorCount()); ++c) {
    const format::FieldDescriptor& ours = table->columns()[c].descriptor;
    Ref<TableDescriptor> d = description->getTableDescriptorByIndex(std::int16_t(c + 1));
    EXPECT_EQ(std::tuple(d->get_name(), d->get_width(), d->get_precision()),
              std::tuple(ansiToText(ours.nameBytes()), ours.width, ours.decimals));
  }
  for (std::int64_t i = 0; table != nullptr && i < n && i < table->count(); ++i) {
    format::RowView row = table->read(i);
    Fields want;
    for (const format::Column& c : table->columns()) {
      want.emplace_back(ansiToText(c.descriptor.nameBytes()), ansiToText(row.field(c)));
    }
    EXPECT_EQ(fieldsOf(file.getShapeObject(static_cast<std::int16_t>(i + 1))->get_Record()), want)
        << "record " << i + 1;
  }
  return true;
}

// Writes a file read from dir/stem to dir/back/stem. A regular original comes back the same to
// the byte in its main and index files: records numbered 1, 2, ... in file order, back to back
// with nothing between or behind them, each box the extents of its points, part lists that begin
// with 0 and hold no other 0, and index entries that point at those records. With `table`, the
// table must differ only in what we stamp: today's date, zero reserved bytes (no language driver
// mark) and the end mark, which pyshp leaves out; a table without columns is written with a
// default column instead, which the caller checks.
inline void expectWrittenBackAsItWas(Shapefile& file, const TempDir& dir, const std::string& stem,
                                     bool table = true) {
  std::filesystem::create_directory(dir.native("back"));
  ASSERT_TRUE(file.writeShapefile(dir.u16() + u"/back", toUtf16(stem)));
  EXPECT_EQ(dir.read("back/" + stem + ".shp"), dir.read(stem + ".shp"));
  EXPECT_EQ(dir.read("back/" + stem + ".shx"), dir.read(stem + ".shx"));
  File ours = dir.read("back/" + stem + ".dbf"), theirs = dir.read(stem + ".dbf");
  if (!table || theirs.at(32) == 0x0D) return;
  std::fill(theirs.begin() + 12, theirs.begin() + 32, 0);
  if (theirs.back() != 0x1A) theirs.push_back(0x1A);
  EXPECT_EQ(ours, withDateOf(theirs, ours));
}

}  // namespace kel::testing
