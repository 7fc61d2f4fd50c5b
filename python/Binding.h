#pragma once

#include <pybind11/pybind11.h>

#include "kel/automation/TypeLibrary.h"
#include "kel/runtime/Ref.h"
#include "kel/runtime/Variant.h"

// The library's shared references are the holders of the Python wrappers: a wrapper keeps its
// object alive, and the object's own count is the one that counts.
PYBIND11_DECLARE_HOLDER_TYPE(T, kel::Ref<T>, true)

namespace kelpy {

namespace py = pybind11;

// Python values to variants, as a script's values reach automation: None is Nothing, bool a
// Boolean, int a Long (a Double beyond 32 bits, so that the member reports the overflow), float a
// Double, str text, a wrapper its object. Anything else is a type mismatch.
kel::Variant toVariant(py::handle value);

// A variant as Python sees it: empty is None, Booleans are bool, numbers int or float, text str,
// objects their wrappers (None for Nothing). A value of an enumeration's type becomes that
// enumeration's member when it has one.
py::object toPython(const kel::Variant& value, const kel::automation::TypeRef& type = {});

// The wrapper of a library object of any class; the same wrapper while Python holds one.
py::object wrap(kel::Object* object);

// The library object that a wrapper of class T holds. Anything else raises TypeError, and so does
// a wrapper that holds none, which T.__new__ makes when __init__ is never called: pybind11 would
// hand out raw memory in its place.
[[noreturn]] void raiseNoObject(kel::ClassId expected, py::handle given, bool isWrapper);
template <class T>
T& objectOf(py::handle wrapper) {
  py::detail::type_info* type = py::detail::get_type_info(typeid(T));
  if (type == nullptr || !PyObject_TypeCheck(wrapper.ptr(), type->type)) {
    raiseNoObject(T::kClassId, wrapper, false);
  }
  py::detail::value_and_holder held =
      reinterpret_cast<py::detail::instance*>(wrapper.ptr())->get_value_and_holder(type);
  if (!held.holder_constructed()) raiseNoObject(T::kClassId, wrapper, true);
  return *held.template holder<kel::Ref<T>>();
}

// The Python enumerations (IntEnum) made from the type library's, their constants also named in
// the module itself.
void bindEnumerations(py::module_& module);

// One Python class per class of the type library (and the runtime's Collection), its methods
// and properties generated from the members' rows.
void bindClasses(py::module_& module);

// __geo_interface__ on ShapeObject and Shapefile.
void bindGeoInterface(py::module_& module);

// The module's exception, kelshapelib.Error, raised for every error of the library.
void bindErrors(py::module_& module);

}  // namespace kelpy
