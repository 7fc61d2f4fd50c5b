#include <pybind11/eval.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "kel/automation/Dispatch.h"
#include "python/Binding.h"
#include "python/Serial.h"
#include "kel/runtime/Text.h"
#include "kel/shapefile/Shapefile.h"
#include "kel/shapefile/ShapefileAtPath.h"

namespace kelpy {

namespace {

using kel::Object;
using kel::Variant;
using kel::automation::ClassInfo;
using kel::automation::Member;
using kel::automation::MemberKind;
using kel::automation::Parameter;
using kel::automation::TypeRef;
using kel::automation::ValueType;
namespace automation = kel::automation;

using Unwrap = Object& (*)(py::handle);

std::string utf8(std::u16string_view text) {
  return kel::toUtf8(text);
}

std::string typeName(const TypeRef& type) {
  switch (type.type) {
    case ValueType::Void:
      return "None";
    case ValueType::Boolean:
      return "bool";
    case ValueType::Byte:
    case ValueType::Integer:
    case ValueType::Long:
      return "int";
    case ValueType::Double:
      return "float";
    case ValueType::String:
      return "str";
    case ValueType::Variant:
      return "object";
    case ValueType::Object:
      return utf8(automation::classInfo(type.objectClass).name);
    case ValueType::Enumeration:
      return utf8(type.enumeration->name);
  }
  return "object";
}

std::string defaultText(const Parameter& p) {
  if (p.type.type == ValueType::Enumeration) {
    for (const auto& c : p.type.enumeration->constants) {
      if (c.value == p.defaultValue.toInt32()) return utf8(c.name);
    }
  }
  return py::repr(toPython(p.defaultValue)).cast<std::string>();
}

// The signature that Python's inspect reads ("name(self, a, b='')" and a "--" line), then
// "name(a: int, b: str = '') -> bool" and the help string.
std::string methodDoc(const Member& m) {
  std::string name = utf8(m.name);
  std::string inspected = name + "(self";
  std::string shown = name + "(";
  for (std::size_t i = 0; i < m.parameters.size(); ++i) {
    const Parameter& p = m.parameters[i];
    std::string defaultValue = py::repr(toPython(p.defaultValue)).cast<std::string>();
    inspected += ", " + utf8(p.name) + (p.optional ? "=" + defaultValue : "");
    shown += (i ? ", " : "") + utf8(p.name) + ": " + typeName(p.type);
    if (p.optional) shown += " = " + defaultText(p);
  }
  return inspected + ")\n--\n\n" + shown + ") -> " + typeName(m.result) + "\n\n" + utf8(m.help);
}

// Positional arguments first, then keyword arguments by parameter name; an optional parameter
// skipped before a named one takes its default.
std::vector<Variant> argumentsOf(const Member& m, const py::args& args, const py::kwargs& kwargs) {
  std::vector<Variant> out;
  for (py::handle a : args) out.push_back(toVariant(a));
  if (kwargs.empty()) return out;
  if (out.size() > m.parameters.size())
    throw automation::Refusal(automation::Refused::BadParamCount);
  std::vector<bool> given(m.parameters.size(), false);
  std::fill(given.begin(), given.begin() + static_cast<std::ptrdiff_t>(out.size()), true);
  out.resize(m.parameters.size());
  for (auto [key, value] : kwargs) {
    std::string name = key.cast<std::string>();
    std::size_t i = 0;
    while (i < m.parameters.size() && utf8(m.parameters[i].name) != name) ++i;
    if (i == m.parameters.size())
      throw kel::Error(448, u"kelShapeLib", u"Named argument not found");
    if (given[i]) throw automation::Refusal(automation::Refused::BadParamCount);
    out[i] = toVariant(value);
    given[i] = true;
  }
  while (!given.empty() && !given.back()) {
    given.pop_back();
    out.pop_back();
  }
  for (std::size_t i = 0; i < given.size(); ++i) {
    if (given[i]) continue;
    if (!m.parameters[i].optional) kel::raise(kel::ErrorNumber::ArgumentNotOptional);
    out[i] = m.parameters[i].defaultValue;
  }
  return out;
}

unsigned flagOf(MemberKind kind) {
  return kind == MemberKind::Method ? automation::kMethod : automation::kPropertyGet;
}

// A method, or a property get that takes arguments. The strings that the member writes back (the
// normalised paths of readShapefile and writeShapefile) are kept per wrapper in `written`, a
// weak-keyed dictionary, where the class's properties of the same names find them.
py::cpp_function method(const py::object& cls, const Member& m, Unwrap unwrap, py::object written) {
  auto call = [&m, unwrap, written](py::handle self, py::args args, py::kwargs kwargs) {
    Object& object = unwrap(self);
    std::vector<Variant> arguments = argumentsOf(m, args, kwargs);
    Variant result = automation::invoke(object, m.dispatchId, flagOf(m.kind), arguments);
    bool writes = false;
    for (const Parameter& p : m.parameters) writes = writes || p.written;
    if (writes) {
      py::dict values;
      if (written.contains(self)) values = written[self];
      for (std::size_t i = 0; i < arguments.size(); ++i) {
        if (m.parameters[i].written)
          values[utf8(m.parameters[i].name).c_str()] = toPython(arguments[i]);
      }
      written[self] = values;
    }
    return toPython(result, m.result);
  };
  std::string name = utf8(m.name);
  return py::cpp_function(call, py::name(name.c_str()), py::is_method(cls),
                          py::doc(methodDoc(m).c_str()));
}

// A property: the get reads, an assignment puts a value or puts an object by reference, and the
// automation layer answers an assignment to a read-only property with error 438. A property
// without a get has no getter.
py::object property(const py::object& cls, const Member& member, bool readable, bool writable,
                    Unwrap unwrap) {
  std::int32_t id = member.dispatchId;
  py::object fget = py::none();
  if (readable) {
    fget = py::cpp_function(
        [&member, unwrap](py::handle self) {
          Variant result =
              automation::invoke(unwrap(self), member.dispatchId, automation::kPropertyGet, {});
          return toPython(result, member.result);
        },
        py::is_method(cls));
  }
  py::cpp_function fset(
      [id, unwrap](py::handle self, py::handle value) {
        Variant v = toVariant(value);
        unsigned flags = v.isObject() ? automation::kPropertyPutRef : automation::kPropertyPut;
        automation::invoke(unwrap(self), id, flags, std::span<Variant>(&v, 1));
      },
      py::is_method(cls));
  TypeRef type =
      readable || member.parameters.empty() ? member.result : member.parameters.back().type;
  std::string doc = utf8(member.name) + ": " + typeName(type) + (writable ? "" : ", read-only") +
                    "\n\n" + utf8(member.help);
  return py::module_::import("builtins").attr("property")(fget, fset, py::none(), doc);
}

// The strings a member writes back, as read-only properties named after its parameters.
py::object writtenProperty(const std::string& name, const std::string& members,
                           py::object written) {
  py::cpp_function fget([name, written](py::handle self) -> py::object {
    if (!written.contains(self)) return py::none();
    py::dict values = written[self];
    return values.contains(name) ? py::object(values[name.c_str()]) : py::none();
  });
  std::string doc = name + ": str | None, read-only\n\nThe normalised " + name +
                    " as the last call of " + members +
                    " on this object wrote it back; None before any.";
  return py::module_::import("builtins").attr("property")(fget, py::none(), py::none(), doc);
}

void addMembers(py::object cls, const ClassInfo& info, Unwrap unwrap) {
  py::object written = py::module_::import("weakref").attr("WeakKeyDictionary")();
  std::map<std::string, std::string> writers;  // parameter name -> members that write it
  std::set<std::u16string> puts;               // properties that take an assignment
  for (const Member& m : info.members) {
    if (m.kind == MemberKind::PropertyPut || m.kind == MemberKind::PropertyPutRef) {
      puts.insert(m.name);
    }
  }
  for (const Member& m : info.members) {
    std::string name = utf8(m.name);
    if (m.kind == MemberKind::Method ||
        (m.kind == MemberKind::PropertyGet && !m.parameters.empty())) {
      py::setattr(cls, name.c_str(), method(cls, m, unwrap, written));
      for (const Parameter& p : m.parameters) {
        if (!p.written) continue;
        std::string& list = writers[utf8(p.name)];
        list += (list.empty() ? "" : " or ") + name;
      }
    } else if (m.kind == MemberKind::PropertyGet) {
      py::setattr(cls, name.c_str(), property(cls, m, true, puts.contains(m.name), unwrap));
    } else if (!py::hasattr(cls, name.c_str())) {  // a put with no get before it
      py::setattr(cls, name.c_str(), property(cls, m, false, true, unwrap));
    }
  }
  for (const auto& [name, members] : writers) {
    py::setattr(cls, name.c_str(), writtenProperty(name, members, written));
  }
}

template <class T>
Object& unwrapAs(py::handle self) {
  return objectOf<T>(self);
}

// Python's list protocol on the 1-based lists: len() is Count, c[i] is Item(i), and iteration
// yields the items as they are when it starts.
void addListProtocol(py::class_<kel::Collection, kel::Ref<kel::Collection>>& cls) {
  using kel::Collection;
  cls.def(
      "__len__", [](py::handle self) { return objectOf<Collection>(self).count(); },
      "__len__() -> int\n\nThe number of items, as Count.");
  cls.def(
      "__getitem__",
      [](py::handle self, py::handle index) {
        return toPython(objectOf<Collection>(self).item(toVariant(index).toInt32()));
      },
      "__getitem__(index: int) -> object\n\nThe item at a position from 1 to Count, as Item.");
  cls.def(
      "__iter__",
      [](py::handle self) {
        // The items first, then their Python values: making those may run Python code (the
        // collector's callbacks) that changes the list.
        const Collection& list = objectOf<Collection>(self);
        std::vector<Variant> items(list.begin(), list.end());
        py::list out;
        for (std::size_t i = 0; i < items.size(); ++i) {
          checkSignals(static_cast<std::int64_t>(i));
          out.append(toPython(items[i]));
        }
        return py::iter(out);
      },
      "__iter__() -> iterator\n\nThe items in order, as they are when the iteration starts.");
}

// Why the last readShapefile or writeShapefile of this object failed, beyond the False it gives:
// None after a success, else a Failure (file, offset, record, sentence; -1 where not known).
void addLastFailure(py::class_<kel::Shapefile, kel::Ref<kel::Shapefile>>& cls,
                    py::module_& module) {
  py::exec(R"py(
class Failure(__import__("typing").NamedTuple):
    """Why a read or write failed: the file, the offset in it and the 0-based record where
    known (-1 where not), and a sentence."""

    file: str
    offset: int
    record: int
    sentence: str
)py",
           module.attr("__dict__"));
  py::object failure = module.attr("Failure");
  cls.def_property_readonly(
      "last_failure",
      [failure](py::handle self) -> py::object {
        // A copy: the Python values made from it may run Python code that changes it.
        const auto why = objectOf<kel::Shapefile>(self).lastFailure();
        if (!why) return py::none();
        return failure(why->file, why->offset, why->record, why->sentence);
      },
      "last_failure: Failure | None\n\n"
      "Why the last readShapefile or writeShapefile failed: None after a success, else a\n"
      "Failure(file, offset, record, sentence), offset and record -1 where not known.");
}

// Shapefile.read(path) and sf.write(path): a shapefile named by one path, as Python names files,
// and an exception with the reason where readShapefile and writeShapefile give False.
void addPathMembers(py::class_<kel::Shapefile, kel::Ref<kel::Shapefile>>& cls) {
  // The path's bytes as the system takes them: os.fsencode takes str, bytes and os.PathLike.
  auto native = [](py::handle path) {
    return py::module_::import("os").attr("fsencode")(path).cast<std::string>();
  };
  py::cpp_function read(
      [native](py::handle, py::handle path) {
        return wrap(kel::readShapefileAt(native(path)).get());
      },
      py::name("read"), py::is_method(cls),
      "read(cls, path)\n--\n\n"
      "read(path: str | bytes | os.PathLike[str]) -> Shapefile\n\n"
      "Reads the shapefile at path, with or without .shp, into a new Shapefile, as readShapefile\n"
      "reads it (the files are found whatever the letter case of their names). Raises\n"
      "kelshapelib.Error with the reason that last_failure gives: 53 when a file is missing, 75\n"
      "for any other reason, 52 for a path that holds a NUL character or names no file.");
  cls.attr("read") = py::module_::import("builtins").attr("classmethod")(read);
  cls.def(
      "write",
      [native](py::handle self, py::handle path) {
        kel::replaceShapefile(objectOf<kel::Shapefile>(self), native(path));
      },
      "write(self, path)\n--\n\n"
      "write(path: str | bytes | os.PathLike[str]) -> None\n\n"
      "Writes the shapefile at path, with or without .shp, with the bytes writeShapefile writes,\n"
      "but all together or not at all: the new files take the old ones' places only once all\n"
      "three are on the disk, the old .cpg and spatial indexes (.qix, .sbn, .sbx) go, a .prj\n"
      "stays. On any failure the old files stay as they were, and kelshapelib.Error is raised\n"
      "with the reason, which last_failure gives too.");
}

template <class T>
void bindClass(py::module_& module) {
  const ClassInfo& info = automation::classInfo(T::kClassId);
  std::string name = utf8(info.name);
  std::string doc = utf8(info.documentation);
  if constexpr (std::is_same_v<T, kel::Collection>) {
    doc += "\n\nA Python sequence too: len(c), c[i] from 1 to Count, and iteration.";
  }
  py::class_<T, kel::Ref<T>> cls(module, name.c_str(), doc.c_str());
  if (info.create != nullptr) {
    cls.def(py::init([create = info.create] {
              kel::Ref<Object> made = create();
              return kel::Ref<T>(static_cast<T*>(made.get()));
            }),
            (name + "()\n\nA new " + name + ".").c_str());
  }
  if constexpr (std::is_same_v<T, kel::Collection>) addListProtocol(cls);
  if constexpr (std::is_same_v<T, kel::Shapefile>) {
    addLastFailure(cls, module);
    addPathMembers(cls);
  }
  addMembers(cls, info, &unwrapAs<T>);
}

}  // namespace

void bindClasses(py::module_& module) {
  bindClass<kel::Collection>(module);
  bindClass<kel::BoundingBox>(module);
  bindClass<kel::Coordinate>(module);
  bindClass<kel::ShapeObject>(module);
  bindClass<kel::Record>(module);
  bindClass<kel::RecordField>(module);
  bindClass<kel::TableDescriptor>(module);
  bindClass<kel::TableDescription>(module);
  bindClass<kel::Shapefile>(module);
}

}  // namespace kelpy
