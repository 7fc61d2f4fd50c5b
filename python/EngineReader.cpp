// kelshapelib.open: a layer read through the format engine, record by record, as features whose
// geometries and properties are built here with the CPython API, with no Python-level call per
// vertex or value.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <utility>
#include <variant>
#include <vector>

#include "kel/archive/Archive.h"
#include "kel/format/Layer.h"
#include "kel/format/Selection.h"
#include "kel/geojson/Geometry.h"
#include "python/Engine.h"
#include "python/Serial.h"
#ifdef KEL_WITH_PROJ
#include "kel/crs/Crs.h"
#endif

// After Python.h, which python/Engine.h brings in.
#include <datetime.h>
#include <structmember.h>

namespace kelpy::engine {

namespace {

namespace format = kel::format;
namespace archive = kel::archive;
namespace geojson = kel::geojson;

// Warnings a reader gives before it says that it gives no more.
constexpr int kWarningsShown = 10;

// Interned strings for the keys and names of the dictionaries built, made once at import.
struct Names {
  PyObject *type, *id, *geometry, *properties, *coordinates, *feature, *features, *collection;
  PyObject* geometryTypes[7];
};
Names names;

PyObject* intern(const char* s) {
  PyObject* made = PyUnicode_InternFromString(s);
  if (made == nullptr) throw py::error_already_set();
  return made;
}

void makeNames() {
  names.type = intern("type");
  names.id = intern("id");
  names.geometry = intern("geometry");
  names.properties = intern("properties");
  names.coordinates = intern("coordinates");
  names.feature = intern("Feature");
  names.features = intern("features");
  names.collection = intern("FeatureCollection");
  for (int t = 0; t < 7; ++t) {
    names.geometryTypes[t] =
        intern(std::string(geojson::nameOf(static_cast<geojson::GeometryType>(t))).c_str());
  }
}

// --- Feature: a record as its geometry, its properties and its id ---------------------------

struct FeatureObject {
  PyObject_HEAD PyObject* geometry;
  PyObject* properties;
  PyObject* id;
};

PyTypeObject* featureType = nullptr;

int featureTraverse(PyObject* self, visitproc visit, void* arg) {
  auto* f = reinterpret_cast<FeatureObject*>(self);
  Py_VISIT(f->geometry);
  Py_VISIT(f->properties);
  Py_VISIT(f->id);
  Py_VISIT(Py_TYPE(self));
  return 0;
}

int featureClear(PyObject* self) {
  auto* f = reinterpret_cast<FeatureObject*>(self);
  Py_CLEAR(f->geometry);
  Py_CLEAR(f->properties);
  Py_CLEAR(f->id);
  return 0;
}

void featureDealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  PyObject_GC_UnTrack(self);
  featureClear(self);
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* orNone(PyObject* o) {
  return o != nullptr ? o : Py_None;
}

// {"type": "Feature", "id": ..., "geometry": ..., "properties": ...}, sharing the feature's own
// geometry and properties.
PyObject* featureDict(PyObject* id, PyObject* geometry, PyObject* properties) {
  PyObject* d = PyDict_New();
  if (d == nullptr) return nullptr;
  if (PyDict_SetItem(d, names.type, names.feature) < 0 || PyDict_SetItem(d, names.id, id) < 0 ||
      PyDict_SetItem(d, names.geometry, geometry) < 0 ||
      PyDict_SetItem(d, names.properties, properties) < 0) {
    Py_DECREF(d);
    return nullptr;
  }
  return d;
}

PyObject* featureGeoInterface(PyObject* self, void*) {
  auto* f = reinterpret_cast<FeatureObject*>(self);
  return featureDict(orNone(f->id), orNone(f->geometry), orNone(f->properties));
}

PyObject* featureRepr(PyObject* self) {
  auto* f = reinterpret_cast<FeatureObject*>(self);
  PyObject* kind = f->geometry != nullptr && PyDict_Check(f->geometry)
                       ? PyDict_GetItemWithError(f->geometry, names.type)
                       : nullptr;
  if (kind == nullptr && PyErr_Occurred()) return nullptr;
  return PyUnicode_FromFormat("<kelshapelib.Feature %R: %S>", orNone(f->id), orNone(kind));
}

PyMemberDef featureMembers[] = {
    {"geometry", T_OBJECT, offsetof(FeatureObject, geometry), READONLY,
     "The GeoJSON geometry as a dictionary, \"type\" and \"coordinates\" (Z as a third value), "
     "or None for a null shape and a record that cannot be read."},
    {"properties", T_OBJECT, offsetof(FeatureObject, properties), READONLY,
     "The record's values by column name: int, float, str, bool, datetime.date, or None for no "
     "value."},
    {"id", T_OBJECT, offsetof(FeatureObject, id), READONLY,
     "The record's number in the file, counted from 0."},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef featureGetSet[] = {
    {"__geo_interface__", featureGeoInterface, nullptr,
     "{\"type\": \"Feature\", \"id\", \"geometry\", \"properties\"}", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot featureSlots[] = {
    {Py_tp_doc, const_cast<char*>(
                    "A record of a layer that kelshapelib.open reads: its geometry, properties and "
                    "id, and __geo_interface__ as a GeoJSON Feature.")},
    {Py_tp_dealloc, reinterpret_cast<void*>(featureDealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(featureTraverse)},
    {Py_tp_clear, reinterpret_cast<void*>(featureClear)},
    {Py_tp_repr, reinterpret_cast<void*>(featureRepr)},
    {Py_tp_members, featureMembers},
    {Py_tp_getset, featureGetSet},
    {0, nullptr},
};

PyType_Spec featureSpec = {"kelshapelib.Feature", sizeof(FeatureObject), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC
#ifdef Py_TPFLAGS_DISALLOW_INSTANTIATION
                               | Py_TPFLAGS_DISALLOW_INSTANTIATION
#endif
                           ,
                           featureSlots};

// --- Geometries, straight into Python objects -------------------------------------------------
//
// Coordinates are tuples all the way down, as shapely's __geo_interface__ gives them. A tuple of
// floats, or of such tuples, can be part of no reference cycle, so each is taken out of the
// cyclic garbage collector's watch as it is made, as the collector itself would do on its first
// pass: the full collections that a growing list of features sets off then do not walk every
// vertex again and again.

// A tuple of n items made by `item(i)`, untracked; null, with the Python error set, on failure.
template <class F>
PyObject* tupleOf(std::size_t n, F&& item) {
  PyObject* t = PyTuple_New(static_cast<Py_ssize_t>(n));
  if (t == nullptr) return nullptr;
  for (std::size_t i = 0; i < n; ++i) {
    PyObject* made = item(i);
    if (made == nullptr) {
      Py_DECREF(t);
      return nullptr;
    }
    PyTuple_SET_ITEM(t, static_cast<Py_ssize_t>(i), made);
  }
  PyObject_GC_UnTrack(t);
  return t;
}

PyObject* position(const geojson::Point& p, bool z) {
  return tupleOf(z ? 3 : 2, [&](std::size_t i) {
    return PyFloat_FromDouble(i == 0 ? p.x : i == 1 ? p.y : p.z);
  });
}

PyObject* line(const geojson::Ring& ring, bool z) {
  return tupleOf(ring.size(), [&](std::size_t i) { return position(ring[i], z); });
}

PyObject* polygon(const geojson::Polygon& p, bool z) {
  return tupleOf(1 + p.holes.size(),
                 [&](std::size_t i) { return line(i == 0 ? p.outer : p.holes[i - 1], z); });
}

// {"type": ..., "coordinates": ...}
py::object geometryDict(geojson::GeometryType type, PyObject* made) {
  py::object coordinates = owned(made);
  py::object d = owned(PyDict_New());
  if (PyDict_SetItem(d.ptr(), names.type, names.geometryTypes[static_cast<int>(type)]) < 0 ||
      PyDict_SetItem(d.ptr(), names.coordinates, coordinates.ptr()) < 0) {
    throw py::error_already_set();
  }
  return d;
}

// The geometry as a dictionary; None for a Null one.
py::object geometryObject(const geojson::Geometry& g) {
  using T = geojson::GeometryType;
  const bool z = g.hasZ;
  switch (g.type) {
    case T::Null:
      return py::none();
    case T::Point:
      return geometryDict(g.type, position(g.lines[0][0], z));
    case T::MultiPoint:
    case T::LineString:
      return geometryDict(g.type, line(g.lines[0], z));
    case T::MultiLineString:
      return geometryDict(
          g.type, tupleOf(g.lines.size(), [&](std::size_t i) { return line(g.lines[i], z); }));
    case T::Polygon:
      return geometryDict(g.type, polygon(g.polygons[0], z));
    case T::MultiPolygon:
      return geometryDict(g.type, tupleOf(g.polygons.size(), [&](std::size_t i) {
                            return polygon(g.polygons[i], z);
                          }));
  }
  return py::none();
}

// The geometry of a record of points or lines, straight from the record's arrays; the same as
// geometryObject(geojson::geometryOf(v)) without the copy of every vertex in between. None for a
// record of another kind, and for one with a coordinate that is NaN or infinite.
py::object pointsOrLines(const format::ShapeView& v) {
  using T = geojson::GeometryType;
  const std::size_t n = v.points.size();
  const bool z = !v.z.empty();
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(v.points[i].x) || !std::isfinite(v.points[i].y) ||
        (z && !std::isfinite(v.z[i]))) {
      return py::none();
    }
  }
  auto vertex = [&](std::size_t i) {
    return tupleOf(z ? 3 : 2, [&](std::size_t k) {
      return PyFloat_FromDouble(k == 0 ? v.points[i].x : k == 1 ? v.points[i].y : v.z[i]);
    });
  };
  auto run = [&](std::size_t begin, std::size_t end) {
    return tupleOf(end - begin, [&](std::size_t i) { return vertex(begin + i); });
  };
  auto partEnd = [&](std::size_t k) {
    return k + 1 < v.parts.size() ? static_cast<std::size_t>(v.parts[k + 1]) : n;
  };
  switch (format::traitsOf(static_cast<std::int32_t>(v.type))->geometry) {
    case format::Geometry::Point:
      return geometryDict(T::Point, vertex(0));
    case format::Geometry::MultiPoint:
      return geometryDict(T::MultiPoint, run(0, n));
    case format::Geometry::PolyLine:
      if (v.parts.size() == 1) {
        return geometryDict(T::LineString, run(static_cast<std::size_t>(v.parts[0]), n));
      }
      return geometryDict(T::MultiLineString, tupleOf(v.parts.size(), [&](std::size_t k) {
                            return run(static_cast<std::size_t>(v.parts[k]), partEnd(k));
                          }));
    default:
      return py::none();
  }
}

// --- The reader ----------------------------------------------------------------------------

// Keeps what the engine finds until the call that made it returns, when it becomes a warning.
class PendingFindings final : public format::Reporter {
 public:
  void report(const format::Finding& finding) override {
    if (finding.severity != format::Severity::Note || finding.missingFile) {
      pending.push_back(finding);
    }
  }
  std::vector<format::Finding> pending;
};

py::object text(std::string_view s) {
  return owned(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace"));
}

py::object fileName(const std::string& path) {
  return owned(PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
}

py::object number(std::int64_t n) {
  return n < 0 ? py::object(py::none()) : py::object(py::int_(n));
}

// A file handed in as bytes, or as an object whose read() gives them, read whole; named by its
// `name` when it has one that is a str, else as "<shx>".
format::LayerSources::Source sourceOf(py::handle given, const char* extension) {
  format::LayerSources::Source source{std::string("<") + extension + ">", nullptr};
  if (given.is_none()) return source;
  py::object data = py::reinterpret_borrow<py::object>(given);
  if (py::hasattr(given, "read")) {
    py::object name = py::getattr(given, "name", py::none());
    if (PyUnicode_Check(name.ptr())) source.name = name.cast<std::string>();
    data = given.attr("read")();
  }
  Py_buffer view;
  if (PyBytes_Check(data.ptr()) == 0 && PyByteArray_Check(data.ptr()) == 0 &&
      PyMemoryView_Check(data.ptr()) == 0) {
    throw py::type_error(std::string(extension) +
                         " is bytes or a file object opened in binary mode, which gives bytes, "
                         "not " + Py_TYPE(data.ptr())->tp_name);
  }
  if (PyObject_GetBuffer(data.ptr(), &view, PyBUF_SIMPLE) != 0) throw py::error_already_set();
  auto bytes = std::make_shared<std::string>(static_cast<const char*>(view.buf),
                                             static_cast<std::size_t>(view.len));
  PyBuffer_Release(&view);
  source.file = kel::ReadOnlyFile::inMemory(std::move(bytes));
  return source;
}

// The selection that open() or iter() is given: bbox a sequence of four numbers, columns one of
// names, where a filter; None leaves `base` as it is.
format::Selection selectionOf(format::Selection base, py::handle bbox, py::handle columns,
                              py::handle where) {
  if (!bbox.is_none()) {
    std::vector<double> v;
    for (py::handle item : py::iter(bbox)) v.push_back(py::cast<double>(item));
    if (v.size() != 4) throw py::value_error("bbox takes four numbers: xmin, ymin, xmax, ymax");
    base.box = format::Box{v[0], v[1], v[2], v[3]};
  }
  if (!columns.is_none()) {
    if (PyUnicode_Check(columns.ptr())) throw py::type_error("columns takes a sequence of names");
    base.columns.emplace();
    for (py::handle item : py::iter(columns)) base.columns->push_back(py::cast<std::string>(item));
  }
  if (!where.is_none()) base.where = py::cast<std::string>(where);
  return base;
}

// The records a selection keeps; ValueError for a selection that cannot be taken, which says
// where a filter goes wrong.
std::shared_ptr<format::SelectedRecords> selected(format::Layer& layer,
                                                  const format::Selection& selection) {
  try {
    return std::make_shared<format::SelectedRecords>(layer, selection);
  } catch (const format::FilterError& e) {
    throw py::value_error(e.what());
  }
}

class Reader {
 public:
  // The layer at a path (a zip archive's, or one in an archive, too), or of the files handed in.
  Reader(py::handle path, py::handle bbox, py::handle columns, py::handle where,
         py::handle encoding, py::handle shp, py::handle shx, py::handle dbf,
         py::handle prj, py::handle cpg) {
    const bool given = !shp.is_none() || !shx.is_none() || !dbf.is_none() || !prj.is_none() ||
                       !cpg.is_none();
    if (path.is_none() != given || (given && shp.is_none())) {
      throw py::type_error(
          "open() takes either a path or the files as shp= (required), shx=, dbf=, prj= and "
          "cpg=");
    }
    format::OpenOptions options;
    if (!encoding.is_none()) options.encoding = encodingOf(encoding, false);
    std::string p;
    if (given) {
      format::LayerSources sources{sourceOf(shp, "shp"), sourceOf(shx, "shx"), sourceOf(dbf, "dbf"),
                                   sourceOf(prj, "prj"), sourceOf(cpg, "cpg")};
      p = sources.shp.name;
      layer_ = format::Layer::open(std::move(sources), findings_, options);
    } else {
      p = pathOf(path);
      layer_ = archive::openLayer(p, findings_, options);
    }
    if (!layer_) {
      for (const format::Finding& f : findings_.pending) {
        if (f.severity == format::Severity::Error) raiseFinding(f);
      }
      raiseFinding({format::Severity::Error, p, -1, -1, "cannot be read", false});
    }
    shpPath_ = layer_->shapes().path();
    selection_ = selectionOf({}, bbox, columns, where);
    const std::shared_ptr<format::SelectedRecords> records = selected(*layer_, selection_);
    if (format::TableReader* table = layer_->table()) {
      // A name that comes again keeps its first column, as `kelshp dump` has it.
      for (std::size_t c : records->columns()) {
        py::object key = text(table->columns()[c].name);
        PyUnicode_InternInPlace(&key.ptr());
        bool again = false;
        for (const auto& [earlier, at] : columns_) again = again || earlier.equal(key);
        if (!again) columns_.emplace_back(std::move(key), c);
      }
    }
    warn();
  }

  format::Layer& layer() {
    if (!layer_) throw py::value_error("I/O operation on a closed reader");
    return *layer_;
  }
  // Runs f as a call of this reader: one at a time (see Serial); every use of the layer, its
  // buffers and its findings is made in one.
  template <class F>
  auto locked(F&& f) {
    Serial::Call call(serial_, [] {
      PyErr_SetString(PyExc_RuntimeError, inUse("reader").c_str());
      throw py::error_already_set();
    });
    return f();
  }
  void close() {
    locked([&] { layer_.reset(); });
  }
  bool closed() const { return !layer_; }
  std::int64_t size() { return layer().count(); }
  const std::string& path() const { return shpPath_; }

  const format::Selection& selection() const { return selection_; }

  // Record i as a Feature, or as the dictionary of __geo_interface__.
  py::object feature(std::int64_t i, bool asDict) {
    format::Layer& l = layer();
    const bool read = l.shapes().read(i, view_);
    std::optional<format::RowView> row;
    if (l.table() != nullptr && i < l.table()->count()) row = l.table()->read(i);
    return feature(i, read, view_, row, asDict);
  }
  // Warns of what the engine has found since the last feature: at the end of a walk.
  void warnPending() { warn(); }
  // The record a selection is at.
  py::object feature(const format::SelectedRecords& records, bool asDict) {
    return feature(records.index(), records.shapeRead(), records.shape(), records.row(), asDict);
  }

  py::object feature(std::int64_t i, bool read, const format::ShapeView& shape,
                     const std::optional<format::RowView>& row, bool asDict) {
    py::object geometry = read ? geometryOf(i, shape) : py::none();
    py::object properties = propertiesOf(i, row);
    py::object id = py::int_(i);
    warn();
    if (asDict) return owned(featureDict(id.ptr(), geometry.ptr(), properties.ptr()));
    py::object made = owned(featureType->tp_alloc(featureType, 0));
    auto* f = reinterpret_cast<FeatureObject*>(made.ptr());
    f->geometry = geometry.release().ptr();
    f->properties = properties.release().ptr();
    f->id = id.release().ptr();
    return made;
  }

  // The records start to stop - 1 that the reader's selection keeps, in bulk, the columns named
  // (the reader's when None).
  py::dict columns(py::handle names, std::int64_t start, std::int64_t stop,
                   const std::string& geometry, bool letters) {
    if (geometry != "wkb" && geometry != "arrays" && geometry != "none") {
      throw py::value_error("geometry is \"wkb\", \"arrays\" or \"none\", not \"" + geometry +
                            "\"");
    }
    std::vector<std::pair<py::object, std::size_t>> chosen;
    if (names.is_none()) {
      chosen = columns_;
    } else {
      for (py::handle name : names) {
        auto found = std::find_if(columns_.begin(), columns_.end(),
                                  [&](const auto& column) { return column.first.equal(name); });
        if (found == columns_.end()) {
          throw py::key_error("the layer has no column " + py::repr(name).cast<std::string>());
        }
        chosen.push_back(*found);
      }
    }
    const std::int64_t n = size();
    format::Selection s = selection_;  // its box and filter, over the records start to stop - 1
    s.columns.reset();
    s.start = std::clamp<std::int64_t>(start, 0, n);
    s.stop = std::clamp<std::int64_t>(stop, s.start, n);
    s.skipGeometry = geometry == "none";
    const std::shared_ptr<format::SelectedRecords> records = selected(layer(), s);
    py::dict out = readColumns(layer(), *records, findings_.pending, chosen, geometry, letters);
    warn();
    return out;
  }

  py::list fields() {
    py::list out;
    if (format::TableReader* table = layer().table()) {
      for (const format::Column& c : table->columns()) {
        const format::FieldDescriptor& d = c.descriptor;
        char letter[2] = {static_cast<char>(d.type), 0};
        out.append(py::handle(types().field)(
            text(c.name), owned(PyUnicode_DecodeLatin1(letter, 1, nullptr)), d.width, d.decimals));
      }
    }
    return out;
  }

 private:
  // The geometry of a record read; one that cannot be read has None, and the engine has said why.
  py::object geometryOf(std::int64_t i, const format::ShapeView& shape) {
    format::Layer& l = layer();
    if (shape.points.empty()) return py::none();
    const format::Geometry kind = format::traitsOf(static_cast<std::int32_t>(shape.type))->geometry;
    if (kind == format::Geometry::Point || kind == format::Geometry::MultiPoint ||
        (kind == format::Geometry::PolyLine && !shape.parts.empty())) {
      if (py::object g = pointsOrLines(shape); !g.is_none()) return g;
    }
    geojson::Geometry g = geojson::geometryOf(shape);
    auto irregular = [&](std::string sentence) {
      findings_.pending.push_back({format::Severity::Irregularity, shpPath_,
                                   l.shapes().place().offset, i, std::move(sentence), false});
    };
    if (!g.grouped) {
      irregular("the ring grouping stopped at its budget; the holes left stand as polygons");
    }
    if (std::string why = geojson::whyInvalid(g); !why.empty()) {
      irregular(why + ": the geometry is None");
      return py::none();
    }
    return geometryObject(g);
  }

  py::object propertiesOf(std::int64_t i, const std::optional<format::RowView>& given) {
    format::TableReader* table = layer().table();
    py::object d = owned(PyDict_New());
    const bool has = given.has_value();
    format::RowView row;
    if (has) {
      row = *given;
      if (row.deleted) {
        findings_.pending.push_back(
            {format::Severity::Irregularity, table->path(),
             table->header().headerLength + i * std::int64_t{table->header().recordLength}, i,
             "the row is marked deleted; its values are given all the same", false});
      }
    }
    for (const auto& [key, c] : columns_) {
      py::object value = has ? valueOf(*table, row, c) : py::none();
      if (PyDict_SetItem(d.ptr(), key.ptr(), value.ptr()) < 0) throw py::error_already_set();
    }
    return d;
  }

  py::object valueOf(format::TableReader& table, const format::RowView& row, std::size_t c) {
    format::Value v = table.value(row, c);
    if (auto* t = std::get_if<std::string>(&v)) return text(*t);
    if (auto* n = std::get_if<std::int64_t>(&v)) return owned(PyLong_FromLongLong(*n));
    if (auto* d = std::get_if<double>(&v)) return owned(PyFloat_FromDouble(*d));
    if (auto* b = std::get_if<bool>(&v)) return py::bool_(*b);
    if (auto* date = std::get_if<format::Date>(&v)) {
      if (PyObject* made = PyDate_FromDate(date->year, date->month, date->day)) {
        return py::reinterpret_steal<py::object>(made);
      }
      PyErr_Clear();
      const format::Column& column = table.columns()[c];
      findings_.pending.push_back(
          {format::Severity::Irregularity, table.path(),
           table.header().headerLength + row.index * std::int64_t{table.header().recordLength} + 1 +
               static_cast<std::int64_t>(column.offset),
           row.index,
           "column " + column.name + ": " + std::to_string(date->year) + "-" +
               std::to_string(date->month) + "-" + std::to_string(date->day) +
               " is no day of the calendar; the value is None",
           false});
      return py::none();
    }
    if (auto* raw = std::get_if<format::RawBytes>(&v)) {
      // A column type that the engine does not interpret: its text, as GDAL gives it.
      std::string s = table.text(raw->bytes);
      while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
      return s.empty() ? py::object(py::none()) : text(s);
    }
    return py::none();
  }

  // Turns what the engine found into warnings: the first few, then one that says no more come.
  // A warning that the caller's filters make an error raises it here.
  void warn() {
    if (findings_.pending.empty()) return;
    std::vector<format::Finding> found = std::move(findings_.pending);
    findings_.pending.clear();
    static PyObject* warnings =
        py::module_::import("warnings").attr("warn").cast<py::object>().release().ptr();
    for (const format::Finding& f : found) {
      if (warned_ > kWarningsShown) break;
      py::object warning =
          ++warned_ <= kWarningsShown
              ? py::handle(types().formatWarning)(text(f.sentence), fileName(f.file),
                                                  number(f.offset), number(f.record))
              : py::handle(types().formatWarning)(
                    "this reader finds more; it gives no more warnings (`kelshp check` lists "
                    "all)",
                    fileName(shpPath_));
      py::handle(warnings).operator()(warning, py::arg("stacklevel") = 1);
    }
  }

  std::unique_ptr<format::Layer> layer_;
  PendingFindings findings_;
  int warned_ = 0;
  std::string shpPath_;
  std::vector<std::pair<py::object, std::size_t>> columns_;  // key and column, first of a name
  format::Selection selection_;
  format::ShapeView view_;
  Serial serial_;
};

// Walks the records of a reader that a selection keeps, keeping the reader alive.
struct FeatureIterator {
  py::object owner;
  Reader* reader;
  std::shared_ptr<format::SelectedRecords> records;
};


// Python's reading of a start or stop of a range over n records: negative counts from the end,
// and the result lies in 0..n.
std::int64_t bound(py::handle given, std::int64_t n, std::int64_t otherwise) {
  if (given.is_none()) return otherwise;
  std::int64_t i = py::cast<std::int64_t>(owned(PyNumber_Index(given.ptr())));
  if (i < 0) i += n;
  return std::clamp<std::int64_t>(i, 0, n);
}

// An iterator over the records of the reader's selection, changed by what is given.
FeatureIterator iterate(py::object self, py::handle start, py::handle stop, py::handle bbox,
                        py::handle columns, py::handle where) {
  Reader& r = self.cast<Reader&>();
  format::Selection s = selectionOf(r.selection(), bbox, columns, where);
  const std::int64_t n = r.size();
  s.start = bound(start, n, 0);
  s.stop = bound(stop, n, n);
  return r.locked([&] { return FeatureIterator{self, &r, selected(r.layer(), s)}; });
}

constexpr const char* kReaderDoc =
    R"(A shapefile layer open for reading, record by record, through the format engine.

kelshapelib.open(path, bbox=None, columns=None, where=None, encoding=None) makes one.
len(reader) is the number of records, reader[i] the record i as a Feature (negative i counts
from the end; reader[i:j] gives a list), and iteration or reader.iter(start, stop) walks the
records that the selection keeps in file order. The files are
read as they are needed, never all at once, and only read: a read-only file will do.

Where the files are wrong or irregular the reader reads past and warns (FormatWarning): a
record it cannot read has the geometry None, a value its bytes do not make is None. The
first ten findings of a reader are warned, then one warning says that no more come.

A context manager: close() (or the end of a with block) lets go of the files; any use after
it raises ValueError.

One call at a time: a call from another thread waits for the one in progress (close() too); a
call from inside one of its own callbacks (a warning filter) raises RuntimeError.)";

// reader[index]: a record, or the list of a slice's. The index is read, which may run Python
// code, before the reader's call begins.
py::object item(Reader& r, py::handle index) {
  const std::int64_t n = r.size();
  if (PySlice_Check(index.ptr())) {
    Py_ssize_t start, stop, step, length;
    if (PySlice_GetIndicesEx(index.ptr(), static_cast<Py_ssize_t>(n), &start, &stop, &step,
                             &length) < 0) {
      throw py::error_already_set();
    }
    return r.locked([&] {
      py::list out;
      for (Py_ssize_t k = 0, i = start; k < length; ++k, i += step) {
        checkSignals(k);
        out.append(r.feature(i, false));
      }
      return out;
    });
  }
  if (!PyIndex_Check(index.ptr())) {
    throw py::type_error("records are indexed by int or slice, not " +
                         std::string(Py_TYPE(index.ptr())->tp_name));
  }
  py::object i = owned(PyNumber_Index(index.ptr()));
  int overflow = 0;
  long long k = PyLong_AsLongLongAndOverflow(i.ptr(), &overflow);
  if (k < 0 && overflow == 0) k += n;
  if (overflow != 0 || k < 0 || k >= n) throw py::index_error("record index out of range");
  return r.locked([&] { return r.feature(k, false); });
}

}  // namespace

void bindReader(py::module_& module) {
  PyDateTime_IMPORT;
  if (PyDateTimeAPI == nullptr) throw py::error_already_set();
  makeNames();
  featureType = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&featureSpec));
  if (featureType == nullptr) throw py::error_already_set();
  module.attr("Feature") = py::handle(reinterpret_cast<PyObject*>(featureType));

  py::class_<FeatureIterator>(module, "_FeatureIterator")
      .def("__iter__", [](py::object self) { return self; })
      .def("__next__", [](FeatureIterator& it) {
        return it.reader->locked([&] {
          it.reader->layer();  // ValueError once closed
          if (!it.records->next()) {
            it.reader->warnPending();  // a refused spatial index, where no record is kept
            throw py::stop_iteration();
          }
          return it.reader->feature(*it.records, false);
        });
      });

  py::class_<Reader> reader(module, "Reader", kReaderDoc);
  reader.def("__len__", &Reader::size)
      .def("__getitem__",
           &item)
      .def(
          "iter",
          &iterate, py::arg("start") = 0, py::arg("stop") = py::none(),
          py::arg("bbox") = py::none(), py::arg("columns") = py::none(),
          py::arg("where") = py::none(),
          "iter(start=0, stop=None, bbox=None, columns=None, where=None) -> iterator\n\nThe "
          "records start to stop - 1 (as in a slice) that the selection keeps, as Features, in "
          "order; bbox, columns and where as open() takes them, in place of the reader's own.")
      .def("__iter__",
           [](py::object self) {
             return iterate(self, py::none(), py::none(), py::none(), py::none(), py::none());
           })
      .def_property_readonly(
          "__geo_interface__",
          [](Reader& r) {
            py::object features = owned(PyList_New(0));
            r.locked([&] {
              std::shared_ptr<format::SelectedRecords> records = selected(r.layer(), r.selection());
              for (std::int64_t k = 0; records->next(); ++k) {
                checkSignals(k);
                if (PyList_Append(features.ptr(), r.feature(*records, true).ptr()) < 0) {
                  throw py::error_already_set();
                }
              }
            });
            py::dict out;
            out[py::handle(names.type)] = py::handle(names.collection);
            out[py::handle(names.features)] = features;
            return out;
          },
          "The records of the reader's selection as a GeoJSON FeatureCollection dictionary, each Feature a dictionary "
          "(\"type\", \"id\", \"geometry\", \"properties\"): what "
          "geopandas.GeoDataFrame.from_features(reader) takes.")
      .def(
          "_columns",
          [](Reader& r, py::handle names, std::int64_t start, std::int64_t stop,
             const std::string& geometry, bool letters) {
            return r.locked([&] { return r.columns(names, start, stop, geometry, letters); });
          },
          py::arg("columns"), py::arg("start"), py::arg("stop"), py::arg("geometry"),
          py::arg("letters"))
      .def_property_readonly(
          "fields", [](Reader& r) { return r.locked([&] { return r.fields(); }); },
                             "The table's columns as Field(name, type, width, decimals), in order; "
                             "empty without a table.")
      .def_property_readonly(
          "shape_type",
          [](Reader& r) { return shapeTypeOf(r.layer().shapes().header().shapeType); },
          "The main file's shape type as ShapeType(name, code), e.g. ShapeType('PolygonZ', 15).")
      .def_property_readonly(
          "bounds",
          [](Reader& r) {
            return r.locked([&] {
              const format::MainHeader& h = r.layer().shapes().header();
              return py::make_tuple(h.xMin, h.yMin, h.xMax, h.yMax);
            });
          },
          "(xmin, ymin, xmax, ymax) as the main file's header gives them.")
      .def_property_readonly(
          "encoding", [](Reader& r) { return r.layer().encoding(); },
          "The encoding the table's text is read in: the one asked for, else the one the .cpg "
          "file or the table's language driver mark names, else the one its text looks like "
          "(guessed), else CP1252 for ASCII text.")
      .def_property_readonly(
          "crs_wkt",
          [](Reader& r) {
            return r.locked([&]() -> py::object {
              const auto& prj = r.layer().projection();
              return prj ? text(*prj) : py::none();
            });
          },
          "The .prj file's text, the coordinate system as WKT; None without a .prj file.")
      .def_property_readonly(
          "crs",
          [](Reader& r) {
            return r.locked([&]() -> py::object {
              const auto& prj = r.layer().projection();
              if (!prj) return py::none();
#ifdef KEL_WITH_PROJ
              try {
                kel::crs::Crs crs = kel::crs::Crs::parse(*prj);
                return text(crs.authorityCode() ? *crs.authorityCode() : crs.wkt2());
              } catch (const kel::crs::CrsError&) {
                // The text as it is: pyproj says what is wrong with it.
              }
#endif
              return text(*prj);
            });
          },
          "The coordinate reference system as geopandas and pyproj take it: its authority code "
          "(\"EPSG:2263\") where PROJ identifies the .prj file's system, else its WKT; None "
          "without a .prj file.")
      .def_property_readonly("closed", &Reader::closed, "Whether close() has been called.")
      .def("close", &Reader::close,
           "close() -> None\n\nLets go of the files. Any later use raises ValueError; closing "
           "again does nothing.")
      .def("__enter__", [](py::object self) { return self; })
      .def("__exit__",
           [](Reader& r, py::args) {
             r.close();
             return false;
           })
      .def("__repr__", [](Reader& r) {
        py::str path = fileName(r.path());
        if (r.closed()) return py::str("<kelshapelib.Reader {!r}, closed>").format(path);
        const std::int32_t type = r.layer().shapes().header().shapeType;
        return py::str("<kelshapelib.Reader {!r}: {}, {} records>")
            .format(path, py::str(shapeTypeOf(type).attr("name")), r.size());
      });

  module.def(
      "open",
      [](py::handle path, py::handle bbox, py::handle columns, py::handle where,
         py::handle encoding, py::handle shp, py::handle shx, py::handle dbf, py::handle prj,
         py::handle cpg) {
        return new Reader(path, bbox, columns, where, encoding, shp, shx, dbf, prj, cpg);
      },
      py::arg("path") = py::none(), py::arg("bbox") = py::none(),
      py::arg("columns") = py::none(), py::arg("where") = py::none(),
      py::arg("encoding") = py::none(), py::kw_only(), py::arg("shp") = py::none(),
      py::arg("shx") = py::none(), py::arg("dbf") = py::none(), py::arg("prj") = py::none(),
      py::arg("cpg") = py::none(),
      R"(open(path=None, bbox=None, columns=None, where=None, encoding=None, *, shp=None, shx=None, dbf=None, prj=None, cpg=None) -> Reader

Opens a shapefile layer for reading: path names the .shp file, with or without its extension
(str, bytes or os.PathLike); the .shx, .dbf, .cpg and .prj files are found beside it. A path
ending in .zip names the one layer of a zip archive, and ARCHIVE.zip/inner/name.shp one layer
of several; the archive's members are read into memory. Instead of a path, the files may be
handed in as shp= (required), shx=, dbf=, prj= and cpg=, each bytes or a file object opened in
binary mode, read whole. Text is
read in `encoding` when it is given (a name Python or iconv knows: "utf-8", "cp1252",
"latin-1"), else as the .cpg file or the table's language driver mark says, else in the one
its text looks like (UTF-8, else Windows-1252, DOS 850 or DOS 437; a FormatWarning names
the guess, whichever it is), else (ASCII) as Windows-1252. Without an index the main file is walked; without a table the features have no
properties (both with a FormatWarning).

A selection narrows what iteration gives: bbox=(xmin, ymin, xmax, ymax) the records whose
geometry meets the box, as GDAL's spatial filter keeps them; where a filter as `ogr2ogr -where`
takes it ("POP > 1000 AND NAME LIKE 'A%'"); columns the properties named, in that order. len()
and reader[i] still count and address every record. A column that is missing, or a filter that
does not read, raises ValueError, which says at which character.

Raises FileNotFoundError when the main file is missing, LookupError for an unknown encoding and
FormatError when the main file cannot be read as one.)",
      py::return_value_policy::take_ownership);
}

}  // namespace kelpy::engine
