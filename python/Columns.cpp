// A layer's records read in bulk, as columns: numbers, dates and logical values into numpy arrays,
// geometries as WKB or as one array of coordinates with offsets. What read_arrays,
// read_dataframe and the Dask partitions are made of.

#include <pybind11/numpy.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <variant>

#include "kel/format/Layer.h"
#include "kel/format/Selection.h"
#include "kel/geojson/Geometry.h"
#include "python/Engine.h"
#include "python/Serial.h"
#include "python/Wkb.h"

namespace kelpy::engine {

namespace {

namespace format = kel::format;
namespace geojson = kel::geojson;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// How a column comes out: numbers, dates and logical values as numpy values with a mask of
// nulls, the rest as str objects (None for no value); logical values as the letters the fields
// hold when asked, as GDAL gives them.
enum class Kind { Integer, Real, Date, Logical, Text };

Kind kindOf(const format::FieldDescriptor& d, bool letters) {
  switch (static_cast<char>(d.type)) {
    case 'N':
    case 'F':
    case 'I':
      return format::holdsIntegers(d) ? Kind::Integer : Kind::Real;
    case 'D':
      return Kind::Date;
    case 'L':
      return letters ? Kind::Text : Kind::Logical;
    default:
      return Kind::Text;
  }
}

const char* nameOf(Kind k) {
  switch (k) {
    case Kind::Integer:
      return "int64";
    case Kind::Real:
      return "float64";
    case Kind::Date:
      return "datetime64[D]";
    case Kind::Logical:
      return "bool";
    case Kind::Text:
      break;
  }
  return "object";
}

// Days since 1970-01-01 of a day of the proleptic Gregorian calendar.
std::int64_t daysOf(const format::Date& d) {
  const std::int64_t y = d.year - (d.month <= 2 ? 1 : 0);
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t mp = (d.month + 9) % 12;
  const std::int64_t doy = (153 * mp + 2) / 5 + d.day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// One column being read: its values and, for numbers, dates and logical values, its nulls.
struct Filling {
  std::size_t column = 0;
  Kind kind = Kind::Text;
  std::vector<std::int64_t> integers;  // Integer, and Date as days since 1970 (NaT for none)
  std::vector<double> reals;
  std::vector<std::uint8_t> logical, nulls;
  std::vector<py::object> objects;  // Text
};

// An array of n values of a dtype, copied from `from`.
py::array arrayOf(const char* dtype, std::size_t n, const void* from, std::size_t size) {
  py::array a(py::dtype(dtype), static_cast<py::ssize_t>(n));
  if (n != 0) std::memcpy(a.mutable_data(), from, n * size);
  return a;
}

// An array of objects, which it takes.
py::array objectsOf(std::vector<py::object>& from) {
  py::array a(py::dtype("O"), static_cast<py::ssize_t>(from.size()));
  auto** slots = static_cast<PyObject**>(a.mutable_data());
  for (std::size_t k = 0; k < from.size(); ++k) slots[k] = from[k].release().ptr();
  return a;
}

// --- Coordinates and offsets -------------------------------------------------------------

struct Ragged {
  std::vector<double> xyz, m;
  std::vector<std::int64_t> partOffsets{0}, geometryOffsets{0};
  std::vector<std::int32_t> types;
};

void addRagged(const format::ShapeView& v, bool z, bool m, Ragged& out) {
  out.types.push_back(static_cast<std::int32_t>(v.type));
  const std::size_t n = v.points.size();
  for (std::size_t i = 0; i < n; ++i) {
    out.xyz.push_back(v.points[i].x);
    out.xyz.push_back(v.points[i].y);
    if (z) out.xyz.push_back(i < v.z.size() ? v.z[i] : kNaN);
    if (m) {
      const double value = i < v.m.size() ? v.m[i] : kNaN;
      out.m.push_back(value < format::kNoMeasureBelow ? kNaN : value);
    }
  }
  const std::int64_t base = out.partOffsets.back();
  if (n > 0 && v.parts.empty()) {  // points: one part of them all
    out.partOffsets.push_back(base + static_cast<std::int64_t>(n));
  }
  for (std::size_t k = 0; k < v.parts.size(); ++k) {
    out.partOffsets.push_back(
        base + (k + 1 < v.parts.size() ? v.parts[k + 1] : static_cast<std::int64_t>(n)));
  }
  out.geometryOffsets.push_back(static_cast<std::int64_t>(out.partOffsets.size()) - 1);
}

template <class T>
py::array_t<T> arrayOf(const std::vector<T>& v) {
  py::array_t<T> a(static_cast<py::ssize_t>(v.size()));
  if (!v.empty()) std::memcpy(a.mutable_data(), v.data(), v.size() * sizeof(T));
  return a;
}

py::object text(std::string_view s) {
  return owned(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace"));
}

}  // namespace

py::dict readColumns(format::Layer& layer, format::SelectedRecords& records,
                     std::vector<format::Finding>& pending,
                     const std::vector<std::pair<py::object, std::size_t>>& columns,
                     const std::string& geometry, bool letters) {
  format::TableReader* table = layer.table();
  std::vector<Filling> fills;
  for (const auto& column : columns) {
    Filling f;
    f.column = column.second;
    f.kind = kindOf(table->columns()[f.column].descriptor, letters);
    fills.push_back(std::move(f));
  }
  const bool wkb = geometry == "wkb", ragged = geometry == "arrays";
  const format::ShapeTypeTraits traits = *format::traitsOf(layer.shapes().header().shapeType);
  std::vector<py::object> geometries;
  Ragged r;
  std::string bytes;
  std::int64_t n = 0;
  for (; records.next(); ++n) {
    checkSignals(n);
    const std::int64_t i = records.index();
    const format::ShapeView& view = records.shape();  // a Null shape where it cannot be read
    if (wkb) {
      geometries.push_back(wkb::write(view, bytes)
                               ? owned(PyBytes_FromStringAndSize(
                                     bytes.data(), static_cast<Py_ssize_t>(bytes.size())))
                               : py::none());
    } else if (ragged) {
      addRagged(view, traits.z, traits.m, r);
    }
    const std::optional<format::RowView>& row = records.row();
    if (row && row->deleted) {
      pending.push_back(
          {format::Severity::Irregularity, table->path(),
           table->header().headerLength + i * std::int64_t{table->header().recordLength}, i,
           "the row is marked deleted; its values are given all the same", false});
    }
    for (Filling& f : fills) {
      const format::Value v = row ? table->value(*row, f.column) : format::Value{};
      const bool null = format::isNull(v);
      switch (f.kind) {
        case Kind::Integer:
          f.integers.push_back(null ? 0 : format::asInteger(v).value_or(0));
          break;
        case Kind::Real:
          f.reals.push_back(null ? kNaN : format::asDouble(v).value_or(kNaN));
          break;
        case Kind::Logical: {
          const auto* b = std::get_if<bool>(&v);
          f.logical.push_back(b != nullptr && *b ? 1 : 0);
          break;
        }
        case Kind::Date: {
          const auto* d = std::get_if<format::Date>(&v);
          f.integers.push_back(d != nullptr ? daysOf(*d)
                                            : std::numeric_limits<std::int64_t>::min());  // NaT
          break;
        }
        case Kind::Text: {
          py::object o = py::none();
          const format::Column& column = table->columns()[f.column];
          if (const auto* t = std::get_if<std::string>(&v)) {
            o = text(*t);
          } else if (row && static_cast<char>(column.descriptor.type) == 'L') {
            // The letter the field holds, as GDAL gives a logical value: "?" for an unknown
            // one too; none for a blank field.
            std::string_view letter = row->field(column);
            while (!letter.empty() && letter.front() == ' ') letter.remove_prefix(1);
            if (!letter.empty()) o = text(letter.substr(0, 1));
          } else if (const auto* raw = std::get_if<format::RawBytes>(&v)) {
            std::string t = table->text(raw->bytes);
            while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
            if (!t.empty()) o = text(t);
          }
          f.objects.push_back(std::move(o));
          break;
        }
      }
      if (f.kind != Kind::Text) {
        f.nulls.push_back(null ||
                          (f.kind == Kind::Date && !std::holds_alternative<format::Date>(v)));
      }
    }
  }
  const auto count = static_cast<std::size_t>(n);
  py::list described;
  for (std::size_t c = 0; c < fills.size(); ++c) {
    Filling& f = fills[c];
    const char* dtype = nameOf(f.kind);
    py::object values, nulls = py::none();
    switch (f.kind) {
      case Kind::Integer:
      case Kind::Date:
        values = arrayOf(dtype, count, f.integers.data(), sizeof(std::int64_t));
        break;
      case Kind::Real:
        values = arrayOf(dtype, count, f.reals.data(), sizeof(double));
        break;
      case Kind::Logical:
        values = arrayOf(dtype, count, f.logical.data(), 1);
        break;
      case Kind::Text:
        values = objectsOf(f.objects);
        break;
    }
    if (f.kind != Kind::Text) nulls = arrayOf("bool", count, f.nulls.data(), 1);
    described.append(py::make_tuple(columns[c].first, dtype, values, nulls));
  }
  py::dict out;
  out["count"] = n;
  out["columns"] = described;
  if (wkb) out["wkb"] = objectsOf(geometries);
  if (ragged) {
    const py::ssize_t width = traits.z ? 3 : 2;
    py::array_t<double> coords = arrayOf(r.xyz);
    out["coords"] = coords.reshape({static_cast<py::ssize_t>(r.xyz.size()) / width, width});
    out["m"] = traits.m ? py::object(arrayOf(r.m)) : py::object(py::none());
    out["part_offsets"] = arrayOf(r.partOffsets);
    out["geometry_offsets"] = arrayOf(r.geometryOffsets);
    out["shape_types"] = arrayOf(r.types);
  }
  return out;
}

}  // namespace kelpy::engine
