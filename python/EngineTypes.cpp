#include <pybind11/eval.h>

#include <algorithm>
#include <cerrno>

#include "python/Engine.h"
#include "kel/runtime/Text.h"
#include "kel/runtime/TextEncoder.h"
#include "kel/runtime/Transcoder.h"

namespace kelpy::engine {

namespace {

Types theTypes;

// Record and row numbers count from 0, as Python counts, so that a message's record is the id of
// its Feature and the index of its feature in what was written.
constexpr const char* kTypes = R"py(
import collections as _collections


def _where(file, offset, label, number):
    parts = [str(file)] if file else []
    if offset is not None:
        parts.append(f"offset {offset}")
    if number is not None:
        parts.append(f"{label} {number}")
    return "".join(part + ": " for part in parts)


class FormatError(Error):
    """A file that the format engine cannot read as a shapefile layer, or a layer it cannot write.

    `sentence` is the engine's reason, `file` the path it concerns, `offset` the byte offset in
    that file and `record` the record, counted from 0 as a Feature's id; each is None where not
    known. `number` is None: these errors come from the format engine, not from automation."""

    def __init__(self, sentence, file=None, offset=None, record=None):
        self.sentence, self.file, self.offset, self.record = sentence, file, offset, record
        super().__init__(None, _where(file, offset, "record", record) + sentence)

    def __str__(self):
        return self.description

    def __reduce__(self):
        return type(self), (self.sentence, self.file, self.offset, self.record)


class WriteError(FormatError):
    """A value, shape, column or path that the writer refuses, or a write that failed.

    `row` is the record being written, counted from 0 (the number of records written before it),
    and `column` the name of the column concerned; each is None where none is meant, and the
    message names both. After a refusal the writer takes the next record; the old files stay as
    they are until the writer is closed."""

    def __init__(self, sentence, file=None, offset=None, row=None, column=None):
        self.sentence, self.file, self.offset, self.record = sentence, file, offset, row
        self.row, self.column = row, column
        Error.__init__(self, None, _where(file, None, "row", row) + sentence)

    def __reduce__(self):
        return type(self), (self.sentence, self.file, self.offset, self.row, self.column)


class FormatWarning(UserWarning):
    """What a reader finds wrong or irregular in a layer's files and reads past: a record that
    cannot be read (its geometry is None), a value its bytes do not make (None), a table shorter
    than the main file, a missing index or table, a row marked deleted. `sentence`, `file`,
    `offset` and `record` as in FormatError. Make them errors with
    warnings.simplefilter("error", kelshapelib.FormatWarning)."""

    def __init__(self, sentence, file=None, offset=None, record=None):
        self.sentence, self.file, self.offset, self.record = sentence, file, offset, record
        super().__init__(_where(file, offset, "record", record) + sentence)

    def __reduce__(self):
        return type(self), (self.sentence, self.file, self.offset, self.record)


Field = _collections.namedtuple("Field", "name type width decimals", defaults=(0,))
Field.__doc__ = """A column of a layer's table: its name, its type letter (C Character, N Number,
F Float, L Logical, D Date; other letters as a file has them), its width in bytes and its
decimals."""

ShapeType = _collections.namedtuple("ShapeType", "name code")
ShapeType.__doc__ = """A shape type of the format: its name ("PolygonZ") and its code (15)."""
)py";

py::object text(const std::string& s) {
  return owned(PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "replace"));
}

py::object fileName(const std::string& path) {
  if (path.empty()) return py::none();
  return owned(PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size())));
}

py::object number(std::int64_t n) {
  return n < 0 ? py::object(py::none()) : py::object(py::int_(n));
}

// The name the engine knows an encoding by, from Python's name of it.
std::string engineName(const std::string& python) {
  if (python == "utf-8") return "UTF-8";
  if (python.size() > 2 && python.compare(0, 2, "cp") == 0 &&
      python.find_first_not_of("0123456789", 2) == std::string::npos) {
    return "CP" + python.substr(2);
  }
  if (python.compare(0, 7, "iso8859") == 0 && python.size() > 8) {
    return "ISO-8859-" + python.substr(8);
  }
  std::string out = python;
  out = kel::asciiUpper(out);
  std::replace(out.begin(), out.end(), '_', '-');
  return out;
}

}  // namespace

const Types& types() {
  return theTypes;
}

void bindTypes(py::module_& module) {
  py::exec(kTypes, module.attr("__dict__"));
  // Held for the life of the process, as the module's exception translators are.
  auto keep = [&](const char* name) { return py::object(module.attr(name)).release().ptr(); };
  theTypes.formatError = keep("FormatError");
  theTypes.writeError = keep("WriteError");
  theTypes.formatWarning = keep("FormatWarning");
  theTypes.field = keep("Field");
  theTypes.shapeType = keep("ShapeType");
  for (const char* name : {"FormatError", "WriteError", "FormatWarning", "Field", "ShapeType"}) {
    module.attr(name).attr("__module__") = module.attr("__name__");
  }
}

void raiseFinding(const kel::format::Finding& finding) {
  py::object file = fileName(finding.file);
  if (finding.missingFile) {
    PyErr_SetObject(
        PyExc_FileNotFoundError,
        py::handle(PyExc_FileNotFoundError)(ENOENT, "No such file or directory", file).ptr());
  } else {
    py::object error = py::handle(theTypes.formatError)(
        text(finding.sentence), file, number(finding.offset), number(finding.record));
    PyErr_SetObject(theTypes.formatError, error.ptr());
  }
  throw py::error_already_set();
}

void raiseWriteError(const std::string& sentence, const std::string& file,
                     std::optional<std::int64_t> row, const std::optional<std::string>& column,
                     std::optional<std::int64_t> offset) {
  py::object error = py::handle(theTypes.writeError)(
      text(sentence), fileName(file), offset ? py::object(py::int_(*offset)) : py::none(),
      row ? py::object(py::int_(*row)) : py::none(),
      column ? text(*column) : py::object(py::none()));
  PyErr_SetObject(theTypes.writeError, error.ptr());
  throw py::error_already_set();
}

std::string pathOf(py::handle path) {
  py::bytes encoded = py::module_::import("os").attr("fsencode")(path);
  return std::string(encoded);
}

std::string encodingOf(py::handle name, bool forWriting) {
  if (!PyUnicode_Check(name.ptr())) {
    throw py::type_error("an encoding is named by a str, not " +
                         std::string(Py_TYPE(name.ptr())->tp_name));
  }
  std::string given = name.cast<std::string>();
  std::string candidate = given;
  try {
    candidate = engineName(
        py::module_::import("codecs").attr("lookup")(name).attr("name").cast<std::string>());
  } catch (const py::error_already_set& e) {
    if (!e.matches(PyExc_LookupError)) throw;
  }
  auto known = [&](const std::string& n) {
    return forWriting ? kel::TextEncoder::open(n) != nullptr : kel::Transcoder::open(n) != nullptr;
  };
  if (given.find('\0') == std::string::npos) {
    if (known(candidate)) return candidate;
    if (known(given)) return given;
  }
  PyErr_SetString(PyExc_LookupError, ("unknown encoding: " + given).c_str());
  throw py::error_already_set();
}

py::object shapeTypeOf(std::int32_t code) {
  std::optional<kel::format::ShapeTypeTraits> traits = kel::format::traitsOf(code);
  std::string name = traits ? std::string(traits->name) : "unknown";
  return py::handle(theTypes.shapeType)(name, code);
}

kel::format::ShapeType shapeTypeFrom(py::handle given) {
  if (PyUnicode_Check(given.ptr())) {
    std::string name = kel::asciiLower(given.cast<std::string>());
    for (kel::format::ShapeType type : kel::format::kShapeTypes) {
      const auto code = static_cast<std::int32_t>(type);
      if (kel::asciiLower(kel::format::traitsOf(code)->name) == name) {
        return static_cast<kel::format::ShapeType>(code);
      }
    }
    throw py::value_error("no shape type is named " + std::string(py::repr(given)) +
                          "; the names are Point, PolyLine, Polygon, MultiPoint, each also with "
                          "Z or M (PointZ, PolyLineM), MultiPatch and Null");
  }
  py::object code = py::reinterpret_borrow<py::object>(given);
  if (PyObject_IsInstance(given.ptr(), theTypes.shapeType) == 1) code = given.attr("code");
  if (PyBool_Check(code.ptr()) || !PyIndex_Check(code.ptr())) {
    throw py::type_error(
        "a shape type is a ShapeType, a name such as \"PolygonZ\" or a code, not " +
        std::string(Py_TYPE(given.ptr())->tp_name));
  }
  long long n = PyLong_AsLongLong(owned(PyNumber_Index(code.ptr())).ptr());
  if (n == -1 && PyErr_Occurred()) PyErr_Clear();
  for (kel::format::ShapeType type : kel::format::kShapeTypes) {
    if (static_cast<std::int32_t>(type) == n) return type;
  }
  throw py::value_error("no shape type has the code " + std::string(py::repr(given)));
}

}  // namespace kelpy::engine
