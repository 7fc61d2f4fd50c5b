#include <pybind11/eval.h>

#include "python/Binding.h"
#include "python/Engine.h"
#include "kel/runtime/Error.h"
#include "kel/runtime/Text.h"

namespace kelpy {

void bindErrors(py::module_& module) {
  py::exec(R"py(
class Error(Exception):
    """An error of kelShapeLib: the automation error number, the description and the source.

    Raised for every failure of a member, for arguments the members cannot take (13 type
    mismatch, 6 overflow) and for calls that automation refuses (438 no such member, 450 wrong
    number of arguments)."""

    number: int
    description: str
    source: str

    def __init__(self, number: int, description: str, source: str = "kelShapeLib") -> None:
        super().__init__(number, description)
        self.number = number
        self.description = description
        self.source = source

    def __str__(self) -> str:
        return f"{self.description} (error {self.number})"

)py",
           module.attr("__dict__"));
  // Held for the life of the process: the translator may run until the interpreter ends.
  static PyObject* error = py::object(module.attr("Error")).release().ptr();
  py::register_exception_translator([](std::exception_ptr thrown) {
    try {
      if (thrown) std::rethrow_exception(thrown);
    } catch (const kel::Error& e) {
      py::object raised =
          py::handle(error)(e.number(), kel::toUtf8(e.description()), kel::toUtf8(e.source()));
      PyErr_SetObject(error, raised.ptr());
    }
  });
}

}  // namespace kelpy

PYBIND11_MODULE(kelshapelib, module) {
  namespace py = pybind11;
  py::options options;
  options.disable_function_signatures();  // each docstring starts with the type library's own
  module.doc() =
      "kelShapeLib: ESRI shapefiles as a small object model of shared references. The classes, "
      "their members and the two enumerations come from the library's type library.";
  module.attr("__version__") = KEL_VERSION;
  kelpy::bindErrors(module);
  kelpy::bindEnumerations(module);
  kelpy::bindClasses(module);
  kelpy::bindGeoInterface(module);
  kelpy::engine::bindTypes(module);
  kelpy::engine::bindReader(module);
  kelpy::engine::bindWriter(module);
  kelpy::engine::bindFrames(module);
}
