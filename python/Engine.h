#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kel/format/Layer.h"
#include "kel/format/Reporter.h"
#include "kel/format/Selection.h"
#include "kel/format/ShapeType.h"
#include "python/Binding.h"

// The module's reader and writer over the format engine (format/): kelshapelib.open, Reader,
// Feature, Writer and write, with their exceptions and warning. The object model's classes are
// not involved; these take any shape type and any number of records.
namespace kelpy::engine {

// FormatError, WriteError, FormatWarning, Field and ShapeType, defined in the module.
void bindTypes(py::module_& module);
void bindReader(py::module_& module);
void bindWriter(py::module_& module);
// read_arrays, read_dataframe, write_dataframe and the submodule kelshapelib.dask.
void bindFrames(py::module_& module);

// A new reference that the caller owns, or the Python error raised when it is null.
inline py::object owned(PyObject* made) {
  if (made == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(made);
}

// The classes that bindTypes defined, held for the life of the process.
struct Types {
  PyObject* formatError = nullptr;
  PyObject* writeError = nullptr;
  PyObject* formatWarning = nullptr;
  PyObject* field = nullptr;
  PyObject* shapeType = nullptr;
};
const Types& types();

// The engine's finding as the exception it stands for: FileNotFoundError for a missing file, else
// FormatError.
[[noreturn]] void raiseFinding(const kel::format::Finding& finding);

// A WriteError: where known, the row (0-based) and the column's name.
[[noreturn]] void raiseWriteError(const std::string& sentence, const std::string& file,
                                  std::optional<std::int64_t> row,
                                  const std::optional<std::string>& column,
                                  std::optional<std::int64_t> offset = std::nullopt);

// A path as the engine takes it: str, bytes or os.PathLike, in the file system's encoding.
std::string pathOf(py::handle path);

// An encoding named as Python or iconv names it ("utf-8", "latin-1", "cp1252", "ISO-8859-7"), as
// the engine names it ("UTF-8", "ISO-8859-1", "CP1252"). LookupError when neither the engine
// reading (forWriting false) or writing text knows it.
std::string encodingOf(py::handle name, bool forWriting);

// ShapeType(name, code) of a type code; the code of a ShapeType, a name (letter case ignored) or
// a code, ValueError for anything else.
py::object shapeTypeOf(std::int32_t code);
kel::format::ShapeType shapeTypeFrom(py::handle given);

// The records that a selection keeps, in bulk (python/Columns.cpp): the columns given (a name and
// its index in the table) as numpy arrays, and the geometries as "wkb", as "arrays" of
// coordinates and offsets, or "none". Logical values as their letters when `letters`. What the
// engine finds is added to `pending`.
py::dict readColumns(kel::format::Layer& layer, kel::format::SelectedRecords& records,
                     std::vector<kel::format::Finding>& pending,
                     const std::vector<std::pair<py::object, std::size_t>>& columns,
                     const std::string& geometry, bool letters);

}  // namespace kelpy::engine
