#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kel/runtime/Object.h"
#include "kel/runtime/Ref.h"
#include "kel/runtime/Variant.h"

namespace kel::automation {

// The type library kelShapeLib, described once as data: every class with its default interface,
// its members in slot order, their dispatch ids, parameters, result types and help strings, and
// the two enumerations. The dispatcher, the listing and any binding read it from here.

enum class MemberKind : std::uint8_t { Method, PropertyGet, PropertyPut, PropertyPutRef };

// The automation types of parameters and results.
enum class ValueType : std::uint8_t {
  Void,
  Boolean,
  Byte,
  Integer,  // signed 16-bit
  Long,     // signed 32-bit
  Double,
  String,
  Variant,
  Object,
  Enumeration,
};

struct EnumConstant {
  std::u16string_view name;
  std::int32_t value;
  std::u16string_view help;
};

struct EnumInfo {
  std::u16string_view name;
  std::u16string_view documentation;
  std::span<const EnumConstant> constants;
};

struct TypeRef {
  ValueType type = ValueType::Void;
  ClassId objectClass = ClassId::Collection;  // of an Object
  const EnumInfo* enumeration = nullptr;      // of an Enumeration
};

struct Parameter {
  std::u16string name;
  TypeRef type;
  bool optional = false;
  Variant defaultValue;  // what an optional parameter left out takes
  bool written = false;  // a by-reference string that the member writes back to the caller
};

// Calls the typed member on an object of the member's class, with one argument per parameter,
// each converted as automation converts it; written arguments are updated in place.
using Invoker = Variant (*)(Object& self, std::span<Variant> arguments);

struct Member {
  std::u16string name;
  MemberKind kind;
  std::int32_t dispatchId;
  std::vector<Parameter> parameters;
  TypeRef result;
  std::u16string help;
  Invoker invoke;
};

struct ClassInfo {
  ClassId id;
  std::u16string name;           // "Shapefile"
  std::u16string interfaceName;  // "_Shapefile"
  std::u16string documentation;
  std::vector<Member> members;  // in slot order; a property's get comes before its put
  Ref<Object> (*create)();      // null for a class that scripts do not create
};

struct TypeLibrary {
  std::u16string_view name;
  std::vector<const ClassInfo*> classes;  // the eight classes of the library
  std::vector<const EnumInfo*> enumerations;
};

const TypeLibrary& typeLibrary();

// The description of any object's class; the runtime's Collection, which the type library does
// not list, is described here too, so that scripts can walk the lists of the object model.
const ClassInfo& classInfo(ClassId id);

const EnumInfo& shapeTypeConstants();
const EnumInfo& fieldTypeConstants();

}  // namespace kel::automation
