#include <array>
#include <climits>
#include <map>

#include "python/Binding.h"
#include "kel/runtime/Error.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/Shapefile.h"

namespace kelpy {

namespace {

using kel::ClassId;
using kel::Object;
using kel::Variant;

template <class T>
py::object wrapAs(Object* object) {
  return py::cast(kel::Ref<T>(static_cast<T*>(object)));
}

template <class T>
Object* unwrapAs(py::handle value) {
  return &objectOf<T>(value);
}

// How the wrappers of each class are made and opened, indexed by ClassId.
struct Classes {
  py::object (*wrap)(Object*);
  Object* (*unwrap)(py::handle);
  const std::type_info* type;
};

template <class T>
constexpr Classes classesOf() {
  return {&wrapAs<T>, &unwrapAs<T>, &typeid(T)};
}

// Each class at the place of its ClassId, whatever order they are listed in.
template <class... T>
std::array<Classes, sizeof...(T)> byClassId() {
  std::array<Classes, sizeof...(T)> all{};
  ((all[static_cast<std::size_t>(T::kClassId)] = classesOf<T>()), ...);
  return all;
}

const std::array<Classes, 9> kClasses =
    byClassId<kel::Collection, kel::BoundingBox, kel::Coordinate, kel::ShapeObject, kel::Record,
              kel::RecordField, kel::TableDescriptor, kel::TableDescription, kel::Shapefile>();

// The Python enumeration of each of the type library's, made once at import; the module holds
// them for as long as the process runs.
std::map<const kel::automation::EnumInfo*, PyObject*>& enumerations() {
  static auto* made = new std::map<const kel::automation::EnumInfo*, PyObject*>();
  return *made;
}

Variant integer(py::handle value) {
  int overflow = 0;
  long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
  if (n == -1 && PyErr_Occurred()) throw py::error_already_set();
  if (overflow == 0 && n >= INT32_MIN && n <= INT32_MAX)
    return Variant(static_cast<std::int32_t>(n));
  double d = PyLong_AsDouble(value.ptr());
  if (d == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    kel::raise(kel::ErrorNumber::Overflow);
  }
  return Variant(d);
}

}  // namespace

Variant toVariant(py::handle value) {
  PyObject* p = value.ptr();
  if (value.is_none()) return Variant(nullptr);
  if (PyBool_Check(p)) return Variant::boolean(p == Py_True);
  if (PyFloat_Check(p)) return Variant(PyFloat_AsDouble(p));
  if (PyIndex_Check(p)) {
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(p));
    if (!index) throw py::error_already_set();
    return integer(index);
  }
  if (PyUnicode_Check(p)) return Variant(kel::toUtf16(value.cast<std::string>()));
  for (const Classes& c : kClasses) {
    py::detail::type_info* info = py::detail::get_type_info(*c.type);
    if (info != nullptr && PyObject_TypeCheck(p, info->type)) {
      return Variant(kel::Ref<Object>(c.unwrap(value)));
    }
  }
  kel::raise(kel::ErrorNumber::TypeMismatch);
}

void raiseNoObject(kel::ClassId expected, py::handle given, bool isWrapper) {
  std::string name = "kelshapelib." + kel::toUtf8(kel::className(expected));
  if (!isWrapper) {
    throw py::type_error(name + " expected, not " + Py_TYPE(given.ptr())->tp_name);
  }
  throw py::type_error("this " + name + " holds no object: it was made without __init__");
}

py::object wrap(Object* object) {
  if (object == nullptr) return py::none();
  return kClasses[static_cast<std::size_t>(object->classId())].wrap(object);
}

py::object toPython(const Variant& value, const kel::automation::TypeRef& type) {
  switch (value.kind()) {
    case Variant::Kind::Empty:
      return py::none();
    case Variant::Kind::Boolean:
      return py::bool_(value.toBoolean());
    case Variant::Kind::Byte:
    case Variant::Kind::Integer:
    case Variant::Kind::Long: {
      py::int_ n(value.toInt32());
      auto e = enumerations().find(type.enumeration);
      if (type.type != kel::automation::ValueType::Enumeration || e == enumerations().end()) {
        return n;
      }
      // A file may carry a type that the enumeration does not name; it stays a number.
      py::handle members = py::handle(e->second).attr("_value2member_map_");
      return members.contains(n) ? py::reinterpret_borrow<py::object>(members[n]) : py::object(n);
    }
    case Variant::Kind::Double:
      return py::float_(value.toDouble());
    case Variant::Kind::Text:
      return py::str(kel::toUtf8(value.toText()));
    case Variant::Kind::Object:
      return wrap(value.object());
  }
  return py::none();
}

void bindEnumerations(py::module_& module) {
  py::object intEnum = py::module_::import("enum").attr("IntEnum");
  for (const kel::automation::EnumInfo* e : kel::automation::typeLibrary().enumerations) {
    py::list members;
    for (const auto& c : e->constants) members.append(py::make_tuple(kel::toUtf8(c.name), c.value));
    std::string name = kel::toUtf8(e->name);
    py::object made = intEnum(name, members, py::arg("module") = module.attr("__name__"));
    made.attr("__doc__") = kel::toUtf8(e->documentation);
    module.attr(name.c_str()) = made;
    // Scripts name the constants on their own, as `kelshapelib.kelPolyLine`.
    for (const auto& c : e->constants) {
      std::string constant = kel::toUtf8(c.name);
      module.attr(constant.c_str()) = made.attr(constant.c_str());
    }
    enumerations()[e] = made.release().ptr();
  }
}

}  // namespace kelpy
