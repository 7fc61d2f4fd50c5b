// kelshapelib.Writer and kelshapelib.write: GeoJSON-like features written through the format
// engine's streaming writer, which replaces a layer's files all together or not at all.

#include <pybind11/numpy.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <unordered_map>
#include <variant>
#include <vector>

#include "kel/archive/Archive.h"
#include "kel/format/DbaseFile.h"
#include "kel/format/LayerFiles.h"
#include "kel/format/LayerWriter.h"
#include "kel/plan/LayerPlanner.h"
#include "kel/runtime/Text.h"
#include "python/Engine.h"
#ifdef KEL_WITH_PROJ
#include "kel/crs/Crs.h"
#endif
#include "python/Serial.h"
#include "python/Wkb.h"

// After Python.h, which python/Engine.h brings in.
#include <datetime.h>

namespace kelpy::engine {

namespace {

namespace format = kel::format;
namespace plan = kel::plan;

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

// A number as Python code gives it: an integer of 64 bits, an integer beyond them (the int
// itself), or what __float__ makes of any other number; none for what is no number.
using Number = std::variant<std::int64_t, py::object, double>;
std::optional<Number> numberOf(PyObject* v) {
  if (PyIndex_Check(v)) {
    py::object i = owned(PyNumber_Index(v));
    int overflow = 0;
    long long n = PyLong_AsLongLongAndOverflow(i.ptr(), &overflow);
    if (overflow != 0) return Number{std::move(i)};
    if (n == -1 && PyErr_Occurred()) throw py::error_already_set();
    return Number{std::int64_t{n}};
  }
  if (Py_TYPE(v)->tp_as_number != nullptr && Py_TYPE(v)->tp_as_number->nb_float != nullptr) {
    double d = PyFloat_AsDouble(v);
    if (d == -1 && PyErr_Occurred()) throw py::error_already_set();
    return Number{d};
  }
  return std::nullopt;
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

// A coordinate reference system given as `crs` (an authority code, WKT1, WKT2 or PROJJSON as
// str, or an object with to_wkt(), a pyproj CRS) as the .prj file's ESRI WKT1.
std::string prjOf(py::handle crs) {
  bool text = PyUnicode_Check(crs.ptr());
  if (!text && !py::hasattr(crs, "to_wkt")) {
    throw py::type_error(
        "crs is an authority code (\"EPSG:2263\"), WKT or PROJJSON as a str, or a CRS with "
        "to_wkt() such as pyproj's, not " +
        typeName(crs));
  }
#ifdef KEL_WITH_PROJ
  py::object given = text ? py::reinterpret_borrow<py::object>(crs) : crs.attr("to_wkt")();
  if (!PyUnicode_Check(given.ptr())) {
    throw py::type_error("crs.to_wkt() gave " + typeName(given) + ", not a str");
  }
  std::optional<std::string> utf8 = utf8Of(given.ptr());
  if (!utf8) throw py::value_error(std::string("crs") + kSurrogate);
  try {
    return kel::crs::Crs::parse(*utf8).esriWkt();
  } catch (const kel::crs::CrsError& e) {
    throw py::value_error(std::string("crs: ") + e.what());
  }
#else
  // pyproj writes ESRI's WKT itself.
  if (!text) return crs.attr("to_wkt")("WKT1_ESRI").cast<std::string>();
  throw std::runtime_error(
      "crs given as text needs PROJ, which this build of kelshapelib lacks; crs_wkt writes the "
      "WKT as given");
#endif
}

class Writer {
 public:
  // With a shape type and fields, each record is written as it comes; without either, the
  // records are held until close(), which plans the layer from them (kel/plan) and writes it.
  Writer(py::handle path, py::handle shapeType, py::handle fields, py::handle encoding,
         py::handle crsWkt, bool cut, bool wideIntegersAsText, py::handle crs,
         const std::string& mode) {
    path_ = pathOf(path);
    if (mode != "w" && mode != "a") {
      throw py::value_error("mode is 'w' (write a new layer) or 'a' (add to the layer there), "
                            "not '" + mode + "'");
    }
    options_.append = mode == "a";
    if (kel::archive::endsInZip(path_)) {
      // The layer is written beside the archive and packed into it at close().
      try {
        path_ = draft_.emplace(path_).layerPath();
      } catch (const format::WriteError& e) {
        raise(e);
      }
    }
    options_.encoding = encodingOf(encoding, true);
    options_.cut = cut;
    wideIntegersAsText_ = wideIntegersAsText;
    if (!crsWkt.is_none()) {
      if (!PyUnicode_Check(crsWkt.ptr())) {
        throw py::type_error(
            "crs_wkt is the coordinate system's WKT as a str (pyproj gives it "
            "as crs.to_wkt('WKT1_ESRI')), not " +
            typeName(crsWkt));
      }
      std::optional<std::string> wkt = utf8Of(crsWkt.ptr());
      if (!wkt) {
        raiseWriteError(std::string("crs_wkt") + kSurrogate, path_, std::nullopt, std::nullopt);
      }
      options_.projection = *wkt;
    }
    if (!crs.is_none()) {
      if (!crsWkt.is_none()) {
        throw py::type_error("crs and crs_wkt both give the coordinate reference system; give one");
      }
      options_.projection = prjOf(crs);
    }
    const format::LayerFiles files = format::LayerFiles::of(path_);
    shpPath_ = files.path(".shp");
    dbfPath_ = files.path(".dbf");
    if (!shapeType.is_none()) {
      givenType_ = true;
      type_ = shapeTypeFrom(shapeType);
    }
    if (!fields.is_none()) {
      givenFields_ = true;
      readFields(fields);
    }
    if (options_.append && (!givenType_ || !givenFields_)) {
      // What is not given is the layer's.
      format::FirstErrorReporter heard;
      std::unique_ptr<format::Layer> layer = format::Layer::open(path_, heard);
      if (!layer) {
        raiseWriteError("there is no layer to add to" +
                            (heard.error ? ": " + heard.error->sentence : std::string()),
                        heard.error ? heard.error->file : shpPath_, std::nullopt, std::nullopt);
      }
      format::LayerDefinition layout = format::definitionOf(*layer);
      if (!givenType_) type_ = layout.type;
      if (!givenFields_) columns_ = layout.columns, indexColumns();
      givenType_ = givenFields_ = true;
    }
    if (givenType_ && givenFields_) {
      open();
    } else {
      held_ = py::list();
    }
  }

  void write(py::handle geometry, py::handle properties) {
    locked([&] {
      if (planned()) {
        held_.append(py::make_tuple(geometry, properties));
      } else {
        add(geometry, properties);
      }
    });
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
        refuse(failed(e, "the feature", {}), count());
      }
      write(geometry, properties);
    }
  }

  // A data frame's rows, planned and written as kelshapelib.write plans features, and the
  // writer closed: the
  // geometries as WKB (None for none), the columns as numpy arrays of int64, float64 (NaN is no
  // value), bool, datetime64[D] (NaT is none) or objects, taken as write takes values.
  void writeFrame(py::handle geometries, py::handle names, py::handle arrays) {
    locked([&] {
      if (!planned() || closed_ || py::len(held_) != 0) {
        throw py::value_error("a data frame is written by a writer of its own");
      }
      closed_ = true;
      std::vector<std::string> keys;
      std::vector<py::array> columns;
      for (py::handle name : names) {
        keys.push_back(std::get<std::string>(text(name.ptr(), std::nullopt)));
      }
      for (py::handle a : arrays) columns.push_back(py::reinterpret_borrow<py::array>(a));
      py::sequence wkbs = py::reinterpret_borrow<py::sequence>(geometries);
      const std::size_t n = py::len(wkbs);
      for (const py::array& a : columns) {
        if (static_cast<std::size_t>(a.size()) != n || a.ndim() != 1) {
          throw py::value_error("each column has a value a geometry");
        }
      }
      writePlanned(
          n,
          [&](std::size_t i) {
            const auto row = static_cast<std::int64_t>(i);
            py::object g = wkbs[i];
            geometry_.clear();
            if (!g.is_none()) {
              char* data = nullptr;
              Py_ssize_t size = 0;
              if (PyBytes_AsStringAndSize(g.ptr(), &data, &size) < 0) {
                PyErr_Clear();
                refuse({"the geometry is WKB bytes or None, not " + typeName(g), {}}, row);
              }
              try {
                wkb::read({data, static_cast<std::size_t>(size)}, geometry_);
              } catch (const wkb::Unreadable& e) {
                refuse({e.what(), {}}, row);
              }
            }
            properties_.clear();
            for (std::size_t c = 0; c < columns.size(); ++c) {
              try {
                properties_.emplace_back(keys[c], frameValue(columns[c], i, keys[c]));
              } catch (const Refusal& r) {
                refuse(r, row);
              } catch (py::error_already_set& e) {
                Refusal r = failed(e, "the value", {});
                r.name = keys[c];
                refuse(r, row);
              }
            }
          },
          [](std::size_t) {});
      std::unique_ptr<format::LayerWriter> w = std::move(writer_);
      try {
        w->close();
      } catch (const format::WriteError& e) {
        raise(e);
      }
    });
  }

  void close() {
    locked([&] {
      if (planned()) {
        if (closed_) return;  // its layer written, or its records dropped
        py::list held = std::move(held_);
        held_ = py::list();
        closed_ = true;
        writeHeld(held);
      }
      std::unique_ptr<format::LayerWriter> w = std::move(writer_);
      if (!w) return;
      try {
        w->close();
        if (draft_) draft_->commit();
        draft_.reset();
      } catch (const format::WriteError& e) {
        draft_.reset();
        raise(e);
      }
    });
  }
  void abandon() {
    locked([&] {
      writer_.reset();
      draft_.reset();
      if (planned()) held_ = py::list(), closed_ = true;
    });
  }
  bool closed() const { return planned() ? closed_ : !writer_; }
  std::int64_t count() {
    if (planned()) {
      if (closed_) throw py::value_error("I/O operation on a closed writer");
      return static_cast<std::int64_t>(py::len(held_));
    }
    return writer().count();
  }

 private:
  // Whether the layer is planned from the records at close().
  bool planned() const { return !givenType_ || !givenFields_; }


  void open() {
    try {
      writer_ = std::make_unique<format::LayerWriter>(path_, type_, columns_, options_);
    } catch (const format::WriteError& e) {
      raise(e);
    }
  }

  // The held records, planned and written.
  void writeHeld(const py::list& held) {
    writePlanned(
        held.size(), [&](std::size_t i) { read(held[i], static_cast<std::int64_t>(i)); },
        [&](std::size_t i) { rowOf(py::tuple(held[i])[1]); });
  }

  // n records planned and written: a first pass finds what the planner lacks (the shape type,
  // the columns), a second writes each record. read(i) puts record i's geometry and, where the
  // planner makes the columns, its properties in geometry_ and properties_; with the fields
  // given, rowOf(i) makes its row.
  template <class Read, class RowOf>
  void writePlanned(std::size_t n, Read&& read, RowOf&& rowOf) {
    plan::PlanOptions planning;
    planning.encoding = options_.encoding;
    planning.cut = options_.cut;
    planning.wideIntegersAsText = wideIntegersAsText_;
    planning.feature = "row";
    planning.firstFeature = 0;
    if (givenType_) planning.shapeType = type_;
    plan::LayerPlanner planner(planning);
    for (std::size_t i = 0; i < n; ++i) {
      checkSignals(static_cast<std::int64_t>(i));
      read(i);
      try {
        planner.survey(geometry_, properties_);
      } catch (const plan::PlanError& e) {
        refuse(e);
      }
    }
    try {
      const plan::LayerDefinition& layer = planner.layer();
      if (!givenType_) type_ = layer.type;
      if (!givenFields_) {
        columns_ = layer.columns;
        indexColumns();
        for (std::size_t c = 0; c < columns_.size(); ++c) {
          if (columns_[c].name == planner.propertyOf(c)) continue;
          std::string said = "property '" + planner.propertyOf(c) + "' is written as column '" +
                             columns_[c].name + "'";
          if (PyErr_WarnEx(PyExc_UserWarning, said.c_str(), 1) < 0) throw py::error_already_set();
        }
      }
    } catch (const plan::PlanError& e) {
      refuse(e);
    }
    open();
    for (std::size_t i = 0; i < n; ++i) {
      checkSignals(static_cast<std::int64_t>(i));
      auto row = static_cast<std::int64_t>(i);
      read(i);
      try {
        if (givenFields_) {
          plan::shapeOf(geometry_, type_, record_);
          try {
            rowOf(i);
          } catch (py::error_already_set& e) {
            throw failed(e, "the properties", {});
          }
        } else {
          planner.record(geometry_, properties_, type_, record_);
        }
      } catch (const plan::PlanError& e) {
        refuse(plan::PlanError(e.sentence(), row, e.property(), e.cause()));
      } catch (const Refusal& r) {
        refuse(r, row);
      }
      add(givenFields_ ? row_ : record_.row);
    }
  }

  // A held record's geometry and, where the planner makes the columns, its properties.
  void read(py::handle record, std::int64_t row) {
    py::tuple pair = py::reinterpret_borrow<py::tuple>(record);
    try {
      try {
        geometryOf(pair[0]);
      } catch (py::error_already_set& e) {
        throw failed(e, "the geometry", {});
      }
      properties_.clear();
      if (givenFields_) return;
      try {
        propertiesOf(pair[1]);
      } catch (py::error_already_set& e) {
        throw failed(e, "the properties", {});
      }
    } catch (const Refusal& r) {
      refuse(r, row);
    }
  }

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
              {}},
             count());
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

  // A record written as it comes.
  void add(py::handle geometry, py::handle properties) {
    const std::int64_t row = writer().count();
    try {
      try {
        geometryOf(geometry);
      } catch (py::error_already_set& e) {
        throw failed(e, "the geometry", {});
      }
      try {
        plan::shapeOf(geometry_, type_, record_);
      } catch (const plan::PlanError& e) {
        throw Refusal{e.sentence(), {}};
      }
      try {
        rowOf(properties);
      } catch (py::error_already_set& e) {
        throw failed(e, "the properties", {});
      }
    } catch (const Refusal& r) {
      refuse(r, row);
    }
    add(row_);
  }

  void add(const std::vector<format::Value>& row) {
    try {
      writer().add(record_.shape, row);
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

  [[noreturn]] void refuse(const Refusal& r, std::int64_t row) {
    std::optional<std::string> column = r.name;
    std::string sentence = r.sentence;
    if (r.column) {
      column = columns_[*r.column].name;
      sentence = columnPrefix(*r.column) + sentence;
    } else if (r.name) {
      sentence = "column '" + *r.name + "': " + sentence;
    }
    try {
      raiseWriteError(sentence, column ? dbfPath_ : shpPath_, row, column);
    } catch (py::error_already_set& e) {
      if (r.cause) PyException_SetCause(e.value().ptr(), r.cause.inc_ref().ptr());
      throw;
    }
  }

  // The planner's refusal, with the argument that has it otherwise.
  [[noreturn]] void refuse(const plan::PlanError& e) {
    using Cause = plan::PlanError::Cause;
    std::string sentence = e.sentence();
    if (e.cause() == Cause::MixedShapes) sentence += " (give each kind a layer of its own)";
    if (e.cause() == Cause::LongText) sentence += " (cut=True cuts such text)";
    if (e.cause() == Cause::WideInteger) {
      sentence += " (wide_integers_as_text=True writes them as text)";
    }
    if (e.property()) sentence = "column '" + *e.property() + "': " + sentence;
    raiseWriteError(sentence, e.property() ? dbfPath_ : shpPath_,
                    e.feature() >= 0 ? std::optional<std::int64_t>(e.feature()) : std::nullopt,
                    e.property());
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
      c.type = kel::asciiUpper(*t)[0];
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
      } else if (c.type == format::ColumnType::Logical || c.type == format::ColumnType::Date) {
        c.width = c.type == format::ColumnType::Logical ? 1 : 8;
      } else {
        bad("a " + std::string(format::columnTypeName(static_cast<std::uint8_t>(c.type))) +
            " column needs a width");
      }
      if (parts.size() == 4) c.decimals = byte(3, "decimals");
    }
    indexColumns();
  }

  void indexColumns() {
    byName_.clear();
    byUpperName_.clear();
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      byName_.emplace(columns_[i].name, i);
      byUpperName_.emplace(kel::asciiUpper(columns_[i].name), i);
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
    if (auto at = byUpperName_.find(kel::asciiUpper(name)); at != byUpperName_.end()) {
      return at->second;
    }
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
    using format::ColumnType;
    std::optional<ColumnType> known = format::columnTypeOf(static_cast<std::uint8_t>(type));
    if (!known) throw mismatch();
    switch (*known) {
      case ColumnType::Character:
        if (PyUnicode_Check(v)) return text(v, c);
        if (PyBool_Check(v)) throw mismatch();
        if (PyLong_Check(v) || PyFloat_Check(v)) return text(owned(PyObject_Str(v)).ptr(), c);
        if (PyDate_Check(v)) return text(py::handle(v).attr("isoformat")().ptr(), c);
        throw mismatch();
      case ColumnType::Number:
      case ColumnType::Float: {
        if (PyBool_Check(v) || PyUnicode_Check(v) || PyBytes_Check(v)) throw mismatch();
        if (PyFloat_Check(v)) return PyFloat_AS_DOUBLE(v);
        if (std::optional<Number> n = numberOf(v)) {
          if (const py::object* wide = std::get_if<py::object>(&*n)) {
            throw Refusal{"the integer " + shownValue(*wide) + " lies outside the 64-bit range", c};
          }
          return std::holds_alternative<double>(*n) ? format::Value(std::get<double>(*n))
                                                    : format::Value(std::get<std::int64_t>(*n));
        }
        throw mismatch();
      }
      case ColumnType::Logical:
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
      case ColumnType::Date: {
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
      case ColumnType::Integer:
      case ColumnType::Memo:
        break;  // the writer takes no values for these
    }
    throw mismatch();
  }

  format::Value text(PyObject* s, std::optional<std::size_t> c) {
    if (std::optional<std::string> t = utf8Of(s)) return *t;
    throw Refusal{"the text " + shownValue(s) + kSurrogate, c};
  }

  // --- Features as the planner takes them ---

  // The geometry, into geometry_: None is none; otherwise an object with __geo_interface__ or a
  // GeoJSON geometry mapping.
  void geometryOf(py::handle given) {
    plan::Geometry& g = geometry_;
    g.clear();
    if (given.is_none()) return;
    py::object o = py::reinterpret_borrow<py::object>(given);
    if (!PyDict_Check(o.ptr())) {
      if (std::optional<py::object> made = geoInterfaceOf(o)) o = *made;
    }
    if (!isMapping(o)) {
      throw Refusal{"a " + typeName(o) +
                        " is no geometry: a geometry has __geo_interface__ or is "
                        "a mapping with \"type\" and \"coordinates\"",
                    {}};
    }
    py::object typeObject = get(o, "type");
    std::string type = PyUnicode_Check(typeObject.ptr())
                           ? std::get<std::string>(text(typeObject.ptr(), std::nullopt))
                           : "";
    if (type == "Feature") {
      throw Refusal{
          "a Feature where a geometry goes: write(feature[\"geometry\"], "
          "feature[\"properties\"]), or writerows([feature])",
          {}};
    }
    std::optional<plan::GeometryKind> kind = plan::geometryKindNamed(type);
    if (!kind) {
      throw Refusal{(type.empty() ? "a geometry without a type" : "a " + type) +
                        " has no shape type: a geometry is a Point, MultiPoint, LineString, "
                        "MultiLineString, Polygon or MultiPolygon",
                    {}};
    }
    g.kind = *kind;
    py::object coordinates = get(o, "coordinates");
    if (coordinates.is_none()) throw Refusal{"the " + type + " has no coordinates", {}};
    using K = plan::GeometryKind;
    switch (*kind) {
      case K::Point: {
        Py_ssize_t n = PySequence_Size(coordinates.ptr());
        if (n < 0) PyErr_Clear();
        if (n != 0) position(coordinates.ptr());
        break;
      }
      case K::MultiPoint: {
        Items points(coordinates.ptr(), "a MultiPoint's coordinates are a sequence of positions");
        for (Py_ssize_t i = 0; i < points.size; ++i) position(points.items[i]);
        break;
      }
      case K::LineString:
        line(coordinates.ptr(), std::nullopt);
        break;
      case K::MultiLineString: {
        Items lines(coordinates.ptr(), "a MultiLineString's coordinates are a sequence of lines");
        for (Py_ssize_t i = 0; i < lines.size; ++i) line(lines.items[i], std::nullopt);
        break;
      }
      case K::Polygon:
        polygon(coordinates.ptr());
        break;
      default: {
        Items polygons(coordinates.ptr(),
                       "a MultiPolygon's coordinates are a sequence of polygons");
        for (Py_ssize_t i = 0; i < polygons.size; ++i) polygon(polygons.items[i]);
      }
    }
  }

  void position(PyObject* p) {
    Items xyzm(p, "a position is a sequence of X, Y and, where there are, Z and M");
    if (xyzm.size < 2 || xyzm.size > 4) {
      throw Refusal{"a position has " + std::to_string(xyzm.size) +
                        " values; it takes X, Y and, where there are, Z and M",
                    {}};
    }
    double v[4];
    for (Py_ssize_t i = 0; i < xyzm.size; ++i) {
      v[i] = PyFloat_AsDouble(xyzm.items[i]);
      if (v[i] == -1 && PyErr_Occurred()) {
        PyErr_Clear();
        throw Refusal{"a coordinate is no number: " + shownValue(xyzm.items[i]), {}};
      }
    }
    geometry_.add(v[0], v[1], xyzm.size > 2 ? std::optional<double>(v[2]) : std::nullopt,
                  xyzm.size > 3 ? std::optional<double>(v[3]) : std::nullopt);
  }

  // A line, or a ring (the first of its polygon or one after it).
  void line(PyObject* positions, std::optional<bool> firstRing) {
    Items points(positions, "a line or ring is a sequence of positions");
    if (firstRing) {
      geometry_.startRing(*firstRing);
    } else {
      geometry_.startLine();
    }
    if (geometry_.size() + static_cast<std::size_t>(points.size) > INT32_MAX)
      throw Refusal{"the shape has too many points", {}};
    for (Py_ssize_t i = 0; i < points.size; ++i) position(points.items[i]);
  }

  void polygon(PyObject* rings) {
    Items r(rings, "a polygon's coordinates are a sequence of rings");
    for (Py_ssize_t k = 0; k < r.size; ++k) line(r.items[k], k == 0);
  }

  // The properties, into properties_: None is none; otherwise a mapping of names to values.
  void propertiesOf(py::handle properties) {
    if (properties.is_none()) return;
    if (!isMapping(properties)) {
      throw Refusal{"the properties are no mapping of names to values; give fields", {}};
    }
    py::object items = owned(PyMapping_Items(properties.ptr()));
    for (py::handle item : items) {
      if (!PyTuple_Check(item.ptr()) || PyTuple_GET_SIZE(item.ptr()) != 2) {
        throw Refusal{"the properties' items() give no (name, value) pairs", {}};
      }
      PyObject* key = PyTuple_GET_ITEM(item.ptr(), 0);
      if (!PyUnicode_Check(key)) {
        throw Refusal{"a property's name is a str, not " + typeName(key), {}};
      }
      std::string name = std::get<std::string>(text(key, std::nullopt));
      PyObject* v = PyTuple_GET_ITEM(item.ptr(), 1);
      try {
        properties_.emplace_back(name, planValue(v, name));
      } catch (py::error_already_set& e) {
        Refusal r = failed(e, "the value " + shownValue(v), {});
        r.name = name;
        throw r;
      }
    }
  }

  // Value i of a data frame's column.
  plan::Value frameValue(const py::array& a, std::size_t i, const std::string& name) {
    const void* at =
        static_cast<const char*>(a.data()) + static_cast<py::ssize_t>(i) * a.strides(0);
    switch (a.dtype().kind()) {
      case 'i':
        return *static_cast<const std::int64_t*>(at);
      case 'f': {
        const double d = *static_cast<const double*>(at);
        if (std::isnan(d)) return std::monostate{};
        return d;
      }
      case 'b':
        return *static_cast<const bool*>(at);
      case 'M': {
        const std::int64_t days = *static_cast<const std::int64_t*>(at);
        if (days == std::numeric_limits<std::int64_t>::min()) return std::monostate{};
        return dateOf(days);
      }
      default: {
        PyObject* v = *static_cast<PyObject* const*>(at);
        if (v == nullptr || v == Py_None) return std::monostate{};
        if (PyFloat_Check(v) && std::isnan(PyFloat_AS_DOUBLE(v))) return std::monostate{};
        return planValue(v, name);
      }
    }
  }

  // The day of the proleptic Gregorian calendar that many days after 1970-01-01.
  static format::Date dateOf(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0)), month, day};
  }

  // A value as the planner takes it.
  plan::Value planValue(PyObject* v, const std::string& name) {
    if (v == Py_None) return std::monostate{};
    if (PyBool_Check(v)) return v == Py_True;
    if (std::string_view(Py_TYPE(v)->tp_name).substr(0, 10) == "numpy.bool") {
      return PyObject_IsTrue(v) == 1;
    }
    if (PyUnicode_Check(v)) {
      if (std::optional<std::string> t = utf8Of(v)) return *t;
      throw Refusal{"the text " + shownValue(v) + kSurrogate, {}, name};
    }
    if (PyDateTime_Check(v) &&
        (PyDateTime_DATE_GET_HOUR(v) != 0 || PyDateTime_DATE_GET_MINUTE(v) != 0 ||
         PyDateTime_DATE_GET_SECOND(v) != 0 || PyDateTime_DATE_GET_MICROSECOND(v) != 0)) {
      throw Refusal{shownValue(v) + " has a time of day, which a Date column does not hold", {},
                    name};
    }
    if (PyDate_Check(v)) {
      return format::Date{PyDateTime_GET_YEAR(v), PyDateTime_GET_MONTH(v),
                          PyDateTime_GET_DAY(v)};
    }
    if (PyFloat_Check(v)) return PyFloat_AS_DOUBLE(v);
    if (PyBytes_Check(v)) throw Refusal{"a bytes has no column type", {}, name};
    if (std::optional<Number> n = numberOf(v)) {
      if (const py::object* wide = std::get_if<py::object>(&*n)) {
        return plan::BigInteger{py::str(*wide).cast<std::string>()};
      }
      if (const double* d = std::get_if<double>(&*n)) return *d;
      return std::get<std::int64_t>(*n);
    }
    throw Refusal{"a " + typeName(v) + " has no column type", {}, name};
  }

  std::optional<kel::archive::ArchiveDraft> draft_;  // a .zip's: outlives the writer
  std::unique_ptr<format::LayerWriter> writer_;
  std::string path_;
  format::WriteOptions options_;
  bool wideIntegersAsText_ = false;
  bool givenType_ = false, givenFields_ = false;
  py::list held_;        // the records to plan, as (geometry, properties)
  bool closed_ = false;  // a planning writer: closed, or its records dropped
  format::ShapeType type_ = format::ShapeType::Null;
  std::vector<format::ColumnDefinition> columns_;
  std::unordered_map<std::string, std::size_t> byName_, byUpperName_;
  std::string shpPath_, dbfPath_;
  // Reused from record to record.
  plan::Geometry geometry_;
  std::vector<plan::Property> properties_;
  plan::Record record_;
  std::vector<format::Value> row_;
  Serial serial_;
};

// kelshapelib.write: a Writer given the features, closed.
std::int64_t writeFeatures(py::handle path, py::handle features, py::handle shapeType,
                           py::handle fields, py::handle encoding, py::handle crsWkt, bool cut,
                           bool wideIntegersAsText, py::handle crs) {
  // A GeoDataFrame (or a Reader) brings its own system.
  py::object own;
  if (crs.is_none() && crsWkt.is_none() && py::hasattr(features, "crs")) {
    own = features.attr("crs");
    crs = own;
  }
  Writer writer(path, shapeType, fields, encoding, crsWkt, cut, wideIntegersAsText, crs, "w");
  writer.writerows(features);
  std::int64_t count = writer.count();
  writer.close();
  return count;
}

constexpr const char* kWriterDoc =
    R"(Writer(path, shape_type=None, fields=None, encoding="utf-8", crs_wkt=None, cut=False, wide_integers_as_text=False, crs=None, mode="w")

Writes a shapefile layer through the format engine: path names the .shp file, with or without
its extension; shape_type is a ShapeType, a name ("PolygonZ") or a code; fields are (name, type,
width, decimals) tuples, type C, N, F, L or D (width may be left off for L and D, decimals for
0), or a Reader's fields. The table's text is in `encoding`, which the .cpg file names. crs, the
coordinate reference system as an authority code ("EPSG:2263"), WKT1, WKT2, PROJJSON or a
pyproj CRS, becomes the .prj file in ESRI's WKT1, which GDAL and geopandas read back as the same
system (ValueError for a system PROJ cannot read); crs_wkt becomes the .prj file as it is given.
A path ending in .zip writes a new zip archive holding the layer, named as the archive without
.zip, which replaces any old one whole at close().

Given both shape_type and fields, the writer writes each record as it comes. Without either, it
holds the records until close(), then plans the layer from them as kelshapelib.write says (the
same planner as kelshp convert) and writes them; the geometries and properties are read then.

The new files are written beside the old ones under hidden names and take their places when the
writer is closed, all together: a with block closes the writer when it ends normally and drops
the new files when an exception leaves it, and so does a writer dropped without close(). The
old files stay as they were until then.

With mode="a" the records are added after those of the layer at path, whose shape type and
fields are taken when not given (given, they must be the layer's: the same names, letter case
aside, in the same order and of the same types; the widths, the encoding and the .prj stay the
layer's). Until close() the layer's headers count the old records alone; a writer dropped, a
failure or a killed process leaves the layer as it was, and its spatial index goes at close().

One call at a time: a call from another thread waits for the one in progress (close() too); a
call from inside one of its own callbacks (__geo_interface__, __float__, items) raises WriteError.

Each refusal raises WriteError naming the row and the column, and leaves the writer as it
was: a geometry of another kind than the layer's or with Z or M values its type lacks, a value
its column cannot hold (text too long in the encoding, a number too wide, a character the
encoding lacks, a value of another kind). Nothing is cut, unless cut=True, which cuts text after
its last whole character that fits and writes a number too wide as asterisks (no value).)";

constexpr const char* kWriteDoc =
    R"(write(path, features, shape_type=None, fields=None, encoding="utf-8", crs_wkt=None, cut=False, wide_integers_as_text=False, crs=None) -> int

Writes features (Feature dictionaries or objects with __geo_interface__, a Reader, or an object
whose __geo_interface__ is a FeatureCollection, such as a GeoDataFrame) as a new layer at path,
all of it or, on any error, none of it; returns the number of records. The arguments are
Writer's; without crs and crs_wkt, the features' own crs (a GeoDataFrame's, a Reader's) is
written, when they have one.

Without shape_type, the geometries decide it: Point, MultiPoint (Points among them too, each a
MultiPoint of one), PolyLine (LineString, MultiLineString) or Polygon (Polygon, MultiPolygon),
with Z when any position has a third value (the others get Z 0), with M when any has a fourth,
Null when there is none; other mixes raise WriteError. Without fields, the properties decide the
columns, one a name in the order they first come: int a Number column as wide as the widest (at
most 18 characters; a wider int raises WriteError, or with wide_integers_as_text=True makes its
column text), float a Number column with the fewest decimals that read each value back as the
same float, str a Character column as wide as the longest text in the encoding, or a Date column
when every str is a day "YYYY-MM-DD", datetime.date a Date column, bool a Logical column, None
alone a Character column 1 wide. A column whose values are of different kinds (int and float
make floats) raises WriteError. A name longer than 10 bytes, or taken (letter case ignored),
becomes its first 10 bytes, or its first 8 and _1, _2..., as GDAL names columns, with a
UserWarning. Polygon rings are closed where open and turned to run as the format has them.)";

}  // namespace

void bindWriter(py::module_& module) {
  PyDateTime_IMPORT;
  if (PyDateTimeAPI == nullptr) throw py::error_already_set();
  py::class_<Writer>(module, "Writer", kWriterDoc)
      .def(py::init<py::handle, py::handle, py::handle, py::handle, py::handle, bool, bool,
                    py::handle, const std::string&>(),
           py::arg("path"), py::arg("shape_type") = py::none(), py::arg("fields") = py::none(),
           py::arg("encoding") = "utf-8", py::arg("crs_wkt") = py::none(),
           py::arg("cut") = false, py::arg("wide_integers_as_text") = false,
           py::arg("crs") = py::none(), py::arg("mode") = "w")
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
      .def("_write_frame", &Writer::writeFrame, py::arg("geometries"), py::arg("names"),
           py::arg("arrays"))
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
  module.def("write", &writeFeatures, py::arg("path"), py::arg("features"),
             py::arg("shape_type") = py::none(), py::arg("fields") = py::none(),
             py::arg("encoding") = "utf-8", py::arg("crs_wkt") = py::none(),
             py::arg("cut") = false, py::arg("wide_integers_as_text") = false,
             py::arg("crs") = py::none(), kWriteDoc);
}

}  // namespace kelpy::engine
