// kelshapelib.Writer and kelshapelib.write: GeoJSON-like features written through the format
// engine's streaming writer, which replaces a layer's files all together or not at all.

#include <pybind11/eval.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <unordered_map>
#include <vector>

#include "kel/format/DbaseFile.h"
#include "kel/format/LayerWriter.h"
#include "python/Engine.h"
#include "python/Serial.h"

// After Python.h, which python/Engine.h brings in.
#include <datetime.h>

namespace kelpy::engine {

namespace {

namespace format = kel::format;

std::string upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string typeName(py::handle o) {
  return Py_TYPE(o.ptr())->tp_name;
}

// A value as a sentence shows it: its repr (or str), shortened; its type where that fails.
std::string shownValue(py::handle o, bool repr = true) {
  PyObject* made = repr ? PyObject_Repr(o.ptr()) : PyObject_Str(o.ptr());
  Py_ssize_t n = 0;
  const char* utf8 = made != nullptr ? PyUnicode_AsUTF8AndSize(made, &n) : nullptr;
  std::string r = utf8 != nullptr ? std::string(utf8, static_cast<std::size_t>(n))
                                  : std::string("a ") + Py_TYPE(o.ptr())->tp_name;
  Py_XDECREF(made);
  if (utf8 == nullptr) PyErr_Clear();
  return r.size() > 40 ? r.substr(0, 37) + "..." : r;
}

// Why a geometry, row or value cannot be written: the sentence, the column where one is meant,
// and the exception that the caller's own code raised, where one did.
struct Refusal {
  Refusal(std::string s, std::optional<std::size_t> c, std::optional<std::string> n = {})
      : sentence(std::move(s)), column(c), name(std::move(n)) {}
  std::string sentence;
  std::optional<std::size_t> column;
  std::optional<std::string> name;  // of a column the layer does not have
  py::object cause;
};

// The exception that `what` (a geometry, a value) raised while it was read as `as`, as a
// Refusal that names it and keeps it as the WriteError's cause. What is no Exception
// (KeyboardInterrupt, SystemExit), and a WriteError already raised (such as a refusal to re-enter
// the writer), go on as they are.
Refusal failed(py::error_already_set& e, const std::string& what, std::optional<std::size_t> c) {
  static PyObject* writeError = types().writeError;
  if (!e.matches(PyExc_Exception) || e.matches(writeError)) throw;
  Refusal r{what + " cannot be read: " + Py_TYPE(e.value().ptr())->tp_name + ": " +
                shownValue(e.value(), false),
            c};
  r.cause = e.value();
  return r;
}

// A str's text in UTF-8; none, and no error left set, for one that holds a lone surrogate.
std::optional<std::string> utf8Of(PyObject* s) {
  Py_ssize_t n = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(s, &n);
  if (utf8 == nullptr) {
    PyErr_Clear();
    return std::nullopt;
  }
  return std::string(utf8, static_cast<std::size_t>(n));
}

constexpr const char* kSurrogate = " holds a lone surrogate, which no encoding holds";

// An object's __geo_interface__, read once; none when it has none. What its own code raises
// goes on.
std::optional<py::object> geoInterfaceOf(py::handle o) {
  static PyObject* name = PyUnicode_InternFromString("__geo_interface__");
  PyObject* got = PyObject_GetAttr(o.ptr(), name);
  if (got == nullptr) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
    PyErr_Clear();
    return std::nullopt;
  }
  return py::reinterpret_steal<py::object>(got);
}

// Whether an object is a dict or another collections.abc.Mapping.
bool isMapping(py::handle o) {
  if (PyDict_Check(o.ptr())) return true;
  static PyObject* mapping =
      py::module_::import("collections.abc").attr("Mapping").cast<py::object>().release().ptr();
  int is = PyObject_IsInstance(o.ptr(), mapping);
  if (is < 0) throw py::error_already_set();
  return is == 1;
}

// The geometries that a layer of each kind takes.
bool takes(format::Geometry layer, std::string_view type) {
  switch (layer) {
    case format::Geometry::Null:
      return false;
    case format::Geometry::Point:
      return type == "Point";
    case format::Geometry::MultiPoint:
      return type == "MultiPoint" || type == "Point";
    case format::Geometry::PolyLine:
      return type == "LineString" || type == "MultiLineString";
    case format::Geometry::Polygon:
    case format::Geometry::MultiPatch:
      return type == "Polygon" || type == "MultiPolygon";
  }
  return false;
}

// The items of a list or tuple (or any sequence), borrowed from `held`.
struct Items {
  explicit Items(PyObject* sequence, const char* what) {
    if (PyUnicode_Check(sequence) || PyBytes_Check(sequence)) throw Refusal{what, {}};
    held = PySequence_Fast(sequence, what);
    if (held == nullptr) {
      PyErr_Clear();
      throw Refusal{what, {}};
    }
    size = PySequence_Fast_GET_SIZE(held);
    items = PySequence_Fast_ITEMS(held);
  }
  ~Items() { Py_XDECREF(held); }
  Items(const Items&) = delete;
  Items& operator=(const Items&) = delete;
  PyObject* held = nullptr;
  Py_ssize_t size = 0;
  PyObject** items = nullptr;
};

class Writer {
 public:
  Writer(py::handle path, py::handle shapeType, py::handle fields, py::handle encoding,
         py::handle crsWkt, bool cut) {
    std::string p = pathOf(path);
    type_ = shapeTypeFrom(shapeType);
    traits_ = *format::traitsOf(static_cast<std::int32_t>(type_));
    format::WriteOptions options;
    options.encoding = encodingOf(encoding, true);
    options.cut = cut;
    if (!crsWkt.is_none()) {
      if (!PyUnicode_Check(crsWkt.ptr())) {
        throw py::type_error(
            "crs_wkt is the coordinate system's WKT as a str (pyproj gives it "
            "as crs.to_wkt('WKT1_ESRI')), not " +
            typeName(crsWkt));
      }
      std::optional<std::string> wkt = utf8Of(crsWkt.ptr());
      if (!wkt) raiseWriteError(std::string("crs_wkt") + kSurrogate, p, std::nullopt, std::nullopt);
      options.projection = *wkt;
    }
    bool upperCase = p.size() >= 4 && p.compare(p.size() - 4, 4, ".SHP") == 0;
    std::string base =
        p.size() >= 4 && upper(p.substr(p.size() - 4)) == ".SHP" ? p.substr(0, p.size() - 4) : p;
    shpPath_ = base + (upperCase ? ".SHP" : ".shp");
    dbfPath_ = base + (upperCase ? ".DBF" : ".dbf");
    readFields(fields);
    try {
      writer_ = std::make_unique<format::LayerWriter>(p, type_, columns_, options);
    } catch (const format::WriteError& e) {
      raise(e);
    }
  }

  void write(py::handle geometry, py::handle properties) {
    locked([&] { add(geometry, properties); });
  }

  void writerows(py::handle given) {
    static PyObject* readerType = py::module_::import("kelshapelib").attr("Reader").ptr();
    // A reader is walked; another object with a FeatureCollection (a GeoDataFrame) gives its list.
    py::object features = py::reinterpret_borrow<py::object>(given);
    if (PyObject_IsInstance(given.ptr(), readerType) == 0) {
      std::optional<py::object> collection = geoInterfaceOf(given);
      if (collection && isMapping(*collection) &&
          py::str(get(*collection, "type")).equal(py::str("FeatureCollection"))) {
        features = get(*collection, "features");
      }
    }
    // Each record is a call of its own: another thread's records may come in between.
    std::int64_t done = 0;
    for (py::handle item : features) {
      checkSignals(done++);
      py::object geometry, properties;
      try {
        featureOf(item, geometry, properties);
      } catch (py::error_already_set& e) {
        refuse(failed(e, "the feature", {}));
      }
      write(geometry, properties);
    }
  }

  void close() {
    locked([&] {
      std::unique_ptr<format::LayerWriter> w = std::move(writer_);
      if (!w) return;
      try {
        w->close();
      } catch (const format::WriteError& e) {
        raise(e);
      }
    });
  }
  void abandon() {
    locked([&] { writer_.reset(); });
  }
  bool closed() const { return !writer_; }
  std::int64_t count() { return writer().count(); }

 private:
  // The geometry and properties of an item of writerows.
  void featureOf(py::handle item, py::object& geometry, py::object& properties) {
    static PyObject* featureType = py::module_::import("kelshapelib").attr("Feature").ptr();
    static PyObject* featureName = PyUnicode_InternFromString("Feature");
    py::object feature = py::reinterpret_borrow<py::object>(item);
    if (Py_TYPE(item.ptr()) != reinterpret_cast<PyTypeObject*>(featureType)) {
      if (std::optional<py::object> g = geoInterfaceOf(item)) feature = *g;
    }
    if (Py_TYPE(feature.ptr()) == reinterpret_cast<PyTypeObject*>(featureType)) {
      geometry = feature.attr("geometry");
      properties = feature.attr("properties");
      return;
    }
    if (!isMapping(feature)) {
      refuse({"a " + typeName(feature) +
                  " is no feature: a feature has __geo_interface__ or "
                  "is a mapping with \"geometry\" and \"properties\"",
              {}});
    }
    py::object type = get(feature, "type");
    if (!type.is_none() && !py::str(type).equal(py::handle(featureName))) {
      geometry = feature;  // a geometry alone
      properties = py::none();
    } else {
      geometry = get(feature, "geometry");
      properties = get(feature, "properties");
    }
  }

  // Runs f as a call of this writer: one at a time (see Serial), so that a record is converted
  // and added whole, and the writer is closed only between records.
  template <class F>
  void locked(F&& f) {
    Serial::Call call(serial_, [&] {
      raiseWriteError(inUse("writer"), shpPath_, std::nullopt, std::nullopt);
    });
    f();
  }

  void add(py::handle geometry, py::handle properties) {
    format::LayerWriter& w = writer();
    try {
      try {
        shapeOf(geometry);
      } catch (py::error_already_set& e) {
        throw failed(e, "the geometry", {});
      }
      try {
        rowOf(properties);
      } catch (py::error_already_set& e) {
        throw failed(e, "the properties", {});
      }
    } catch (const Refusal& r) {
      refuse(r);
    }
    try {
      format::ShapeArrays shape;
      if (!x_.empty()) {
        shape = {x_, y_,     traits_.z ? std::span<const double>(z_) : std::span<const double>(),
                 {}, parts_, partTypes_};
      }
      w.add(shape, row_);
    } catch (const format::WriteError& e) {
      raise(e);
    }
  }

  format::LayerWriter& writer() {
    if (!writer_) throw py::value_error("I/O operation on a closed writer");
    return *writer_;
  }

  static py::object get(py::handle mapping, const char* key) {
    PyObject* v = PyMapping_GetItemString(mapping.ptr(), key);
    if (v == nullptr) {
      if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw py::error_already_set();
      PyErr_Clear();
      return py::none();
    }
    return py::reinterpret_steal<py::object>(v);
  }

  [[noreturn]] void raise(const format::WriteError& e) {
    const format::Finding& f = e.finding();
    std::optional<std::string> column;
    if (e.column() >= 0 && static_cast<std::size_t>(e.column()) < columns_.size()) {
      column = columns_[static_cast<std::size_t>(e.column())].name;
    }
    raiseWriteError(f.sentence, f.file,
                    f.record >= 0 ? std::optional<std::int64_t>(f.record) : std::nullopt, column,
                    f.offset >= 0 ? std::optional<std::int64_t>(f.offset) : std::nullopt);
  }

  [[noreturn]] void refuse(const Refusal& r) {
    std::optional<std::string> column = r.name;
    std::string sentence = r.sentence;
    if (r.column) {
      column = columns_[*r.column].name;
      sentence = columnPrefix(*r.column) + sentence;
    }
    try {
      raiseWriteError(sentence, r.column ? dbfPath_ : shpPath_, writer().count(), column);
    } catch (py::error_already_set& e) {
      if (r.cause) PyException_SetCause(e.value().ptr(), r.cause.inc_ref().ptr());
      throw;
    }
  }

  // "column 'NAME' (2 of 5): ", as the engine starts its sentences of values.
  std::string columnPrefix(std::size_t c) const {
    return "column '" + columns_[c].name + "' (" + std::to_string(c + 1) + " of " +
           std::to_string(columns_.size()) + "): ";
  }

  // --- Columns ---

  void readFields(py::handle fields) {
    if (PyUnicode_Check(fields.ptr()) || !PyObject_HasAttrString(fields.ptr(), "__iter__")) {
      throw py::type_error("fields are a sequence of (name, type, width, decimals), not " +
                           typeName(fields));
    }
    for (py::handle field : fields) {
      std::size_t i = columns_.size();
      format::ColumnDefinition& c = columns_.emplace_back();
      auto bad = [&](const std::string& why) {
        raiseWriteError("column " + std::to_string(i + 1) + " (" + shownValue(field) + "): " + why,
                        dbfPath_, std::nullopt,
                        c.name.empty() ? std::nullopt : std::optional<std::string>(c.name));
      };
      if (PyUnicode_Check(field.ptr()) || !PySequence_Check(field.ptr())) {
        bad("a field is a tuple (name, type, width, decimals)");
      }
      py::sequence parts = py::reinterpret_borrow<py::sequence>(field);
      if (parts.size() < 2 || parts.size() > 4) {
        bad("a field is a tuple (name, type, width, decimals), with width left off for L and D "
            "and decimals for 0");
      }
      py::object name = parts[0];
      if (!PyUnicode_Check(name.ptr())) bad("the name is no str");
      std::optional<std::string> utf8 = utf8Of(name.ptr());
      if (!utf8) bad(std::string("the name") + kSurrogate);
      c.name = *utf8;
      py::object letter = parts[1];
      std::optional<std::string> t;
      if (PyUnicode_Check(letter.ptr()) && py::len(letter) == 1) t = utf8Of(letter.ptr());
      if (!t) bad("the type is one letter: C, N, F, L or D");
      *t = upper(*t);
      c.type = (*t)[0];
      auto byte = [&](py::size_t k, const char* what) -> std::uint8_t {
        py::object v = parts[k];
        if (PyBool_Check(v.ptr()) || !PyIndex_Check(v.ptr())) {
          bad(std::string("the ") + what + " is no int");
        }
        long long n = PyLong_AsLongLong(owned(PyNumber_Index(v.ptr())).ptr());
        if (PyErr_Occurred()) PyErr_Clear();
        if (n < 0 || n > 255)
          bad(std::string("the ") + what + " " + shownValue(v) + " is not 0 to 255");
        return static_cast<std::uint8_t>(n);
      };
      if (parts.size() >= 3 && !parts[2].is_none()) {
        c.width = byte(2, "width");
      } else if (c.type == 'L' || c.type == 'D') {
        c.width = c.type == 'L' ? 1 : 8;
      } else {
        bad("a " + std::string(format::columnTypeName(static_cast<std::uint8_t>(c.type))) +
            " column needs a width");
      }
      if (parts.size() == 4) c.decimals = byte(3, "decimals");
    }
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      byName_.emplace(columns_[i].name, i);
      byUpperName_.emplace(upper(columns_[i].name), i);
    }
  }

  // --- Rows ---

  void rowOf(py::handle properties) {
    row_.assign(columns_.size(), format::Null{});
    if (properties.is_none()) return;
    if (isMapping(properties)) {
      py::object items = owned(PyMapping_Items(properties.ptr()));
      for (py::handle item : items) {
        if (!PyTuple_Check(item.ptr()) || PyTuple_GET_SIZE(item.ptr()) != 2) {
          throw Refusal{"the properties' items() give no (name, value) pairs", {}};
        }
        std::size_t c = columnNamed(PyTuple_GET_ITEM(item.ptr(), 0));
        row_[c] = valueOf(PyTuple_GET_ITEM(item.ptr(), 1), c);
      }
      return;
    }
    Items values(properties.ptr(),
                 "the properties are a mapping of column names to values, or a sequence of values");
    if (static_cast<std::size_t>(values.size) != columns_.size()) {
      throw Refusal{"the row has " + std::to_string(values.size) + " values for " +
                        std::to_string(columns_.size()) + " columns",
                    {}};
    }
    for (std::size_t c = 0; c < columns_.size(); ++c) row_[c] = valueOf(values.items[c], c);
  }

  std::size_t columnNamed(py::handle key) {
    if (!PyUnicode_Check(key.ptr())) {
      throw Refusal{"a property's name is a str, not " + typeName(key), {}};
    }
    std::string name = std::get<std::string>(text(key.ptr(), std::nullopt));
    if (auto at = byName_.find(name); at != byName_.end()) return at->second;
    if (auto at = byUpperName_.find(upper(name)); at != byUpperName_.end()) return at->second;
    std::string all;
    for (const format::ColumnDefinition& c : columns_) all += (all.empty() ? "" : ", ") + c.name;
    throw Refusal{"no column is named '" + name + "'; the columns are " +
                      (all.empty() ? std::string("none") : all),
                  {},
                  name};
  }

  // The value for column c; what the value's own code raises (__float__, __index__, __str__) is a
  // refusal too.
  format::Value valueOf(PyObject* v, std::size_t c) {
    try {
      return convert(v, c);
    } catch (py::error_already_set& e) {
      throw failed(e, "the value " + shownValue(v), c);
    }
  }

  format::Value convert(PyObject* v, std::size_t c) {
    if (v == Py_None) return format::Null{};
    const char type = columns_[c].type;
    auto mismatch = [&]() -> Refusal {
      return {"a " + typeName(v) + " (" + shownValue(v) + ") cannot go into a " +
                  std::string(format::columnTypeName(static_cast<std::uint8_t>(type))) + " column",
              c};
    };
    switch (type) {
      case 'C':
        if (PyUnicode_Check(v)) return text(v, c);
        if (PyBool_Check(v)) throw mismatch();
        if (PyLong_Check(v) || PyFloat_Check(v)) return text(owned(PyObject_Str(v)).ptr(), c);
        if (PyDate_Check(v)) return text(py::handle(v).attr("isoformat")().ptr(), c);
        throw mismatch();
      case 'N':
      case 'F': {
        if (PyBool_Check(v) || PyUnicode_Check(v) || PyBytes_Check(v)) throw mismatch();
        if (PyFloat_Check(v)) return PyFloat_AS_DOUBLE(v);
        if (PyIndex_Check(v)) {
          py::object i = owned(PyNumber_Index(v));
          int overflow = 0;
          long long n = PyLong_AsLongLongAndOverflow(i.ptr(), &overflow);
          if (overflow != 0) {
            throw Refusal{"the integer " + shownValue(i) + " lies outside the 64-bit range", c};
          }
          if (n == -1 && PyErr_Occurred()) throw py::error_already_set();
          return std::int64_t{n};
        }
        if (Py_TYPE(v)->tp_as_number != nullptr && Py_TYPE(v)->tp_as_number->nb_float != nullptr) {
          double d = PyFloat_AsDouble(v);
          if (d == -1 && PyErr_Occurred()) throw py::error_already_set();
          return d;
        }
        throw mismatch();
      }
      case 'L':
        if (PyBool_Check(v)) return v == Py_True;
        if (std::string_view(Py_TYPE(v)->tp_name).substr(0, 10) == "numpy.bool") {
          return PyObject_IsTrue(v) == 1;
        }
        if (PyUnicode_Check(v)) {
          std::string s = std::get<std::string>(text(py::str(v).attr("strip")().ptr(), c));
          if (s.empty() || s == "?") return format::Null{};
          if (s.size() == 1 && std::string_view("TtYy").find(s[0]) != std::string_view::npos) {
            return true;
          }
          if (s.size() == 1 && std::string_view("FfNn").find(s[0]) != std::string_view::npos) {
            return false;
          }
        }
        throw mismatch();
      case 'D': {
        py::object date = py::reinterpret_borrow<py::object>(v);
        if (PyUnicode_Check(v)) {
          static PyObject* fromIso = py::module_::import("datetime")
                                         .attr("date")
                                         .attr("fromisoformat")
                                         .cast<py::object>()
                                         .release()
                                         .ptr();
          PyObject* made = PyObject_CallOneArg(fromIso, v);
          if (made == nullptr) {
            PyErr_Clear();
            throw Refusal{"the text " + shownValue(v) + " is no date (YYYY-MM-DD)", c};
          }
          date = py::reinterpret_steal<py::object>(made);
        }
        if (PyDateTime_Check(date.ptr())) {
          if (PyDateTime_DATE_GET_HOUR(date.ptr()) != 0 ||
              PyDateTime_DATE_GET_MINUTE(date.ptr()) != 0 ||
              PyDateTime_DATE_GET_SECOND(date.ptr()) != 0 ||
              PyDateTime_DATE_GET_MICROSECOND(date.ptr()) != 0) {
            throw Refusal{shownValue(v) + " has a time of day, which a Date column does not hold",
                          c};
          }
        }
        if (!PyDate_Check(date.ptr())) throw mismatch();
        return format::Date{PyDateTime_GET_YEAR(date.ptr()), PyDateTime_GET_MONTH(date.ptr()),
                            PyDateTime_GET_DAY(date.ptr())};
      }
    }
    throw mismatch();
  }

  format::Value text(PyObject* s, std::optional<std::size_t> c) {
    if (std::optional<std::string> t = utf8Of(s)) return *t;
    throw Refusal{"the text " + shownValue(s) + kSurrogate, c};
  }

  // --- Shapes ---

  void shapeOf(py::handle given) {
    x_.clear();
    y_.clear();
    z_.clear();
    parts_.clear();
    partTypes_.clear();
    if (given.is_none()) return;
    py::object g = py::reinterpret_borrow<py::object>(given);
    if (!PyDict_Check(g.ptr())) {
      if (std::optional<py::object> made = geoInterfaceOf(g)) g = *made;
    }
    if (!isMapping(g)) {
      throw Refusal{"a " + typeName(g) +
                        " is no geometry: a geometry has __geo_interface__ or is "
                        "a mapping with \"type\" and \"coordinates\"",
                    {}};
    }
    py::object typeObject = get(g, "type");
    std::string type = PyUnicode_Check(typeObject.ptr())
                           ? std::get<std::string>(text(typeObject.ptr(), std::nullopt))
                           : "";
    if (type == "Feature") {
      throw Refusal{
          "a Feature where a geometry goes: write(feature[\"geometry\"], "
          "feature[\"properties\"]), or writerows([feature])",
          {}};
    }
    std::string layer(traits_.name);
    if (!takes(traits_.geometry, type)) {
      throw Refusal{
          (type.empty() ? "a geometry without a type" : "a " + type) + " cannot go into a " +
              layer + " layer" +
              (traits_.geometry == format::Geometry::Null ? ", which holds null shapes only" : ""),
          {}};
    }
    py::object coordinates = get(g, "coordinates");
    if (coordinates.is_none()) throw Refusal{"the " + type + " has no coordinates", {}};
    if (type == "Point") {
      Py_ssize_t n = PySequence_Size(coordinates.ptr());
      if (n < 0) PyErr_Clear();
      if (n != 0) position(coordinates.ptr());
    } else if (type == "MultiPoint") {
      Items points(coordinates.ptr(), "a MultiPoint's coordinates are a sequence of positions");
      for (Py_ssize_t i = 0; i < points.size; ++i) position(points.items[i]);
    } else if (type == "LineString") {
      part(coordinates.ptr());
    } else if (type == "MultiLineString") {
      Items lines(coordinates.ptr(), "a MultiLineString's coordinates are a sequence of lines");
      for (Py_ssize_t i = 0; i < lines.size; ++i) part(lines.items[i]);
    } else if (type == "Polygon") {
      polygon(coordinates.ptr());
    } else {
      Items polygons(coordinates.ptr(), "a MultiPolygon's coordinates are a sequence of polygons");
      for (Py_ssize_t i = 0; i < polygons.size; ++i) polygon(polygons.items[i]);
    }
  }

  void position(PyObject* p) {
    Items xyz(p, "a position is a sequence of X, Y and, for a Z type, Z");
    if (xyz.size < 2 || xyz.size > 3) {
      throw Refusal{"a position has " + std::to_string(xyz.size) +
                        " values; it takes X, Y and, "
                        "for a Z type, Z",
                    {}};
    }
    if (xyz.size == 3 && !traits_.z) {
      throw Refusal{"the positions have Z values, which a " + std::string(traits_.name) +
                        " layer does not hold: write a Z type",
                    {}};
    }
    if (xyz.size == 2 && traits_.z) {
      throw Refusal{"a " + std::string(traits_.name) + " layer takes a Z value in each position",
                    {}};
    }
    double v[3];
    for (Py_ssize_t i = 0; i < xyz.size; ++i) {
      v[i] = PyFloat_AsDouble(xyz.items[i]);
      if (v[i] == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        throw Refusal{"a coordinate is no number: " + shownValue(xyz.items[i]), {}};
      }
    }
    x_.push_back(v[0]);
    y_.push_back(v[1]);
    if (xyz.size == 3) z_.push_back(v[2]);
  }

  // A line or ring as a part; an empty one is left out. Returns where it starts.
  std::size_t part(PyObject* line) {
    Items points(line, "a line or ring is a sequence of positions");
    std::size_t start = x_.size();
    if (points.size == 0) return start;
    if (start > static_cast<std::size_t>(INT32_MAX))
      throw Refusal{"the shape has too many points", {}};
    parts_.push_back(static_cast<std::int32_t>(start));
    for (Py_ssize_t i = 0; i < points.size; ++i) position(points.items[i]);
    return start;
  }

  // A polygon's rings: the outer one clockwise, the holes counter-clockwise, as the format has
  // them (GeoJSON runs them the other way), each closed.
  void polygon(PyObject* rings) {
    Items r(rings, "a polygon's coordinates are a sequence of rings");
    for (Py_ssize_t k = 0; k < r.size; ++k) {
      std::size_t start = part(r.items[k]);
      std::size_t end = x_.size();
      if (end == start) continue;
      if (x_[start] != x_[end - 1] || y_[start] != y_[end - 1] ||
          (!z_.empty() && z_[start] != z_[end - 1])) {
        x_.push_back(x_[start]);
        y_.push_back(y_[start]);
        if (!z_.empty()) z_.push_back(z_[start]);
        ++end;
      }
      double area2 = 0;  // twice the signed area: positive when counter-clockwise
      for (std::size_t i = start, j = end - 1; i < end; j = i++) {
        area2 += (x_[j] - x_[i]) * (y_[j] + y_[i]);
      }
      const bool outer = k == 0;
      if ((outer && area2 > 0) || (!outer && area2 < 0)) {
        std::reverse(x_.begin() + static_cast<std::ptrdiff_t>(start), x_.end());
        std::reverse(y_.begin() + static_cast<std::ptrdiff_t>(start), y_.end());
        if (!z_.empty()) std::reverse(z_.begin() + static_cast<std::ptrdiff_t>(start), z_.end());
      }
      if (traits_.geometry == format::Geometry::MultiPatch) {
        partTypes_.push_back(static_cast<std::int32_t>(outer ? format::PartType::OuterRing
                                                             : format::PartType::InnerRing));
      }
    }
  }

  std::unique_ptr<format::LayerWriter> writer_;
  format::ShapeType type_ = format::ShapeType::Null;
  format::ShapeTypeTraits traits_{};
  std::vector<format::ColumnDefinition> columns_;
  std::unordered_map<std::string, std::size_t> byName_, byUpperName_;
  std::string shpPath_, dbfPath_;
  // Reused from record to record.
  std::vector<double> x_, y_, z_;
  std::vector<std::int32_t> parts_, partTypes_;
  std::vector<format::Value> row_;
  Serial serial_;
};

// kelshapelib.write: the shape type and the columns found from the features, then a Writer.
constexpr const char* kWrite = R"py(
import datetime as _datetime
import math as _math
import numbers as _numbers

_FAMILIES = {"Point": "Point", "MultiPoint": "MultiPoint", "LineString": "PolyLine",
             "MultiLineString": "PolyLine", "Polygon": "Polygon", "MultiPolygon": "Polygon"}
_KINDS = {"C": "text", "L": "bool", "D": "date", "int": "int", "float": "float"}


def _geometry_and_properties(feature, row):
    if hasattr(feature, "__geo_interface__"):
        feature = feature.__geo_interface__
    if not hasattr(feature, "get"):
        raise WriteError(f"a {type(feature).__name__} is no feature: a feature has "
                         '__geo_interface__ or is a mapping with "geometry" and "properties"',
                         row=row)
    if feature.get("type") in _FAMILIES:
        return feature, None
    geometry = feature.get("geometry")
    if hasattr(geometry, "__geo_interface__"):
        geometry = geometry.__geo_interface__
    if geometry is not None and not hasattr(geometry, "get"):
        raise WriteError(f"a {type(geometry).__name__} is no geometry", row=row)
    return geometry, feature.get("properties")


def _first_position(coordinates):
    while (coordinates is not None and len(coordinates) > 0 and
           not isinstance(coordinates[0], _numbers.Number)):
        coordinates = coordinates[0]
    return coordinates


def _shape_type_of(features):
    kinds = {}  # the kind of shape and the first row of it
    z = False
    for row, feature in enumerate(features):
        geometry, _ = _geometry_and_properties(feature, row)
        if geometry is None:
            continue
        kind = _FAMILIES.get(geometry.get("type"))
        if kind is None:
            raise WriteError(f"a {geometry.get('type')} has no shape type", row=row)
        position = _first_position(geometry.get("coordinates"))
        if position is not None and len(position) > 0:
            kinds.setdefault(kind, row)
            z = z or len(position) > 2
    if set(kinds) == {"Point", "MultiPoint"}:
        del kinds["Point"]
    if len(kinds) > 1:
        (first, row), (other, at) = sorted(kinds.items(), key=lambda item: item[1])[:2]
        raise WriteError(f"a {other} after a {first} in row {row}: a layer holds shapes of one "
                         "type; give shape_type", row=at)
    kind = next(iter(kinds), "Null")
    return kind + ("Z" if z and kind != "Null" else "")


def _kind(value):
    if isinstance(value, bool) or type(value).__name__ in ("bool_", "bool8"):
        return "L"
    if isinstance(value, _numbers.Integral):
        return "int"
    if isinstance(value, _numbers.Real):
        return "float"
    if isinstance(value, str):
        return "C"
    if isinstance(value, _datetime.date):
        return "D"
    return None


def _decimals(value):
    """The fewest decimals that write a float so that it reads back as the same float."""
    mantissa, _, exponent = repr(value).partition("e")
    decimals = max(0, len(mantissa.partition(".")[2]) - int(exponent or 0))
    while float("%.*f" % (decimals, value)) != value:
        decimals += 1
    return decimals


def _field(name, kind, values, encoding):
    def refuse(sentence, row):
        raise WriteError(f"column '{name}': {sentence}", row=row, column=name)

    if kind in (None, "C"):
        width = 1
        for row, value in values:
            try:
                n = len(value.encode(encoding))
            except (UnicodeError, LookupError):
                n = len(value.encode("utf-8", "surrogatepass"))
            if n > 254:
                refuse(f"the text takes {n} bytes; a Character column holds at most 254", row)
            width = max(width, n)
        return Field(name, "C", width, 0)
    if kind in ("L", "D"):
        return Field(name, kind, 1 if kind == "L" else 8, 0)
    if kind == "int":
        width = max(len(str(int(value))) for _, value in values)
        return Field(name, "N", min(width, 254), 0)
    # Floats: enough decimals for each to read back as itself, and at least one, so that the
    # column reads back as floats.
    decimals = 1
    for row, value in values:
        value = float(value)
        if not _math.isfinite(value):
            refuse(f"{value!r} cannot be written; write None for no value", row)
        decimals = max(decimals, _decimals(value))
        if decimals > 252:
            refuse(f"{value!r} takes {decimals} decimals; a Number column holds at most 252", row)
    while True:
        texts = [("%.*f" % (decimals, float(value)), row, value) for row, value in values]
        if all(float(t) == float(value) for t, _, value in texts) or decimals >= 252:
            break
        decimals += 1
    text, row, value = max(texts, key=lambda t: len(t[0]))
    if len(text) > 254:
        refuse(f"{value!r} takes {len(text)} characters with {decimals} decimals; a Number "
               "column holds at most 254", row)
    return Field(name, "N", len(text), decimals)


def _fields_of(features, encoding):
    columns = {}  # name: [kind, the row it was found in, (row, value) of each value]
    for row, feature in enumerate(features):
        _, properties = _geometry_and_properties(feature, row)
        if properties is None:
            continue
        if not hasattr(properties, "items"):
            raise WriteError("the properties are no mapping of names to values; give fields",
                             row=row)
        for name, value in properties.items():
            column = columns.setdefault(name, [None, None, []])
            if value is None:
                continue
            kind = _kind(value)
            if kind is None:
                raise WriteError(f"column '{name}': a {type(value).__name__} has no column type",
                                 row=row, column=name)
            if column[0] is None:
                column[0], column[1] = kind, row
            elif column[0] != kind:
                if {column[0], kind} != {"int", "float"}:
                    raise WriteError(f"column '{name}': a {type(value).__name__} among the "
                                     f"{_KINDS[column[0]]} values from row {column[1]}",
                                     row=row, column=name)
                column[0] = "float"
            column[2].append((row, value))
    return [_field(name, kind, values, encoding) for name, (kind, _, values) in columns.items()]


def write(path, features, shape_type=None, fields=None, encoding="utf-8", crs_wkt=None):
    """write(path, features, shape_type=None, fields=None, encoding="utf-8", crs_wkt=None) -> int

    Writes features (Feature dictionaries or objects with __geo_interface__, a Reader, or an
    object whose __geo_interface__ is a FeatureCollection, such as a GeoDataFrame) as a new
    layer at path, all of it or, on any error, none of it; returns the number of records.

    Without shape_type, the geometries decide it: Point, MultiPoint (Points among them too),
    PolyLine (LineString, MultiLineString) or Polygon (Polygon, MultiPolygon), with Z when they
    have a third coordinate, Null when there is none. Without fields, the properties do, a
    column a name in the order they come: int a Number column as wide as the widest, float a
    Number column with enough decimals that each value reads back as the same float, str a
    Character column as wide as the longest text in the encoding, bool a Logical column,
    datetime.date a Date column, None alone a Character column 1 wide. A column whose values
    are of different kinds (int and float make floats) raises WriteError."""
    if not isinstance(features, Reader):
        if hasattr(features, "__geo_interface__"):
            features = features.__geo_interface__
        if isinstance(features, dict) and features.get("type") == "FeatureCollection":
            features = features["features"]
        if not isinstance(features, (list, tuple)):
            features = list(features)
    if shape_type is None:
        shape_type = _shape_type_of(features)
    if fields is None:
        fields = _fields_of(features, encoding)
    with Writer(path, shape_type, fields, encoding=encoding, crs_wkt=crs_wkt) as writer:
        writer.writerows(features)
        count = len(writer)
    return count
)py";

constexpr const char* kWriterDoc =
    R"(Writer(path, shape_type, fields, encoding="utf-8", crs_wkt=None, cut=False)

Writes a shapefile layer record by record through the format engine: path names the .shp
file, with or without its extension; shape_type is a ShapeType, a name ("PolygonZ") or a code;
fields are (name, type, width, decimals) tuples, type C, N, F, L or D (width may be left off for
L and D, decimals for 0), or a Reader's fields. The table's text is in `encoding`, which the
.cpg file names; crs_wkt becomes the .prj file.

The new files are written beside the old ones under hidden names and take their places when the
writer is closed, all together: a with block closes the writer when it ends normally and drops
the new files when an exception leaves it, and so does a writer dropped without close(). The
old files stay as they were until then.

One call at a time: a call from another thread waits for the one in progress (close() too); a
call from inside one of its own callbacks (__geo_interface__, __float__, items) raises WriteError.

Each refusal raises WriteError naming the row and the column, and leaves the writer as it
was: a geometry of another kind than the layer's or without the Z values a Z type wants, a
value its column cannot hold (text too long in the encoding, a number too wide, a character
the encoding lacks, a value of another kind). Nothing is cut, unless cut=True, which cuts text
after its last whole character that fits and writes a number too wide as asterisks (no value).)";

}  // namespace

void bindWriter(py::module_& module) {
  PyDateTime_IMPORT;
  if (PyDateTimeAPI == nullptr) throw py::error_already_set();
  py::class_<Writer>(module, "Writer", kWriterDoc)
      .def(py::init<py::handle, py::handle, py::handle, py::handle, py::handle, bool>(),
           py::arg("path"), py::arg("shape_type"), py::arg("fields"), py::arg("encoding") = "utf-8",
           py::arg("crs_wkt") = py::none(), py::arg("cut") = false)
      .def("write", &Writer::write, py::arg("geometry"), py::arg("properties") = py::none(),
           R"(write(geometry, properties=None) -> None

Adds a record. geometry is an object with __geo_interface__ (a shapely geometry, a Feature's
geometry) or a GeoJSON geometry mapping, None for a null shape; a Polygon's rings are turned to
run as the format has them (outer rings clockwise, holes counter-clockwise) and closed where they
are open. properties are a mapping by column name (letter case ignored where no name matches
exactly; a missing column is no value) or a sequence of a value a column, None for no values.
Values: str, int, float, bool, datetime.date and None, each as its column takes it (a Number
column int and float, a Character column str and numbers as text, a Date column dates and
"YYYY-MM-DD" text, a Logical column bool and T, F, Y, N, ?).)")
      .def("writerows", &Writer::writerows, py::arg("features"),
           R"(writerows(features) -> None

Adds a record for each feature: a Feature, an object whose __geo_interface__ is a GeoJSON
Feature, or a Feature mapping ("geometry" and "properties").)")
      .def("close", &Writer::close,
           "close() -> None\n\nWrites the headers and puts the new files in place of the old "
           "ones, all together. Closing again does nothing.")
      .def("__len__", &Writer::count, "The number of records written.")
      .def_property_readonly("closed", &Writer::closed,
                             "Whether the writer was closed, or its files dropped.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__", [](Writer& w, py::handle type, py::handle, py::handle) {
        if (type.is_none()) {
          w.close();
        } else {
          w.abandon();
        }
        return false;
      });
  py::exec(kWrite, module.attr("__dict__"));
  module.attr("write").attr("__module__") = module.attr("__name__");
}

}  // namespace kelpy::engine
