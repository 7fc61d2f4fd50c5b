// kelcomgen: writes, from the type library that the automation layer holds, the two files the
// Windows server is built from: kelShapeLib.idl (which widl turns into the embedded type library
// and the interfaces' C++ declarations) and ComClasses.cpp (the dual interfaces' vtable methods,
// each forwarding to the automation layer's invoker, and the table of classes with their GUIDs).
// Nothing about the classes is written down twice.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "kel/automation/TypeLibrary.h"
#include "kel/runtime/Text.h"

namespace {

using namespace kel;
using namespace kel::automation;

// Stable GUIDs, derived from the name of what they identify, so that a rebuild registers the
// same identities (name-based, as RFC 4122 version 5 ones are laid out).
struct Guid {
  std::uint8_t bytes[16];
};

Guid guidOf(const std::string& what) {
  Guid g{};
  std::uint64_t h1 = 0xcbf29ce484222325ull, h2 = 0x84222325cbf29ce4ull;
  for (unsigned char c : "kelShapeLib/" + what) {
    h1 = (h1 ^ c) * 0x100000001b3ull;
    h2 = (h2 ^ c) * 0x100000001b3ull + (h2 >> 29);
  }
  for (int i = 0; i < 8; ++i) {
    g.bytes[i] = static_cast<std::uint8_t>(h1 >> (8 * i));
    g.bytes[8 + i] = static_cast<std::uint8_t>(h2 >> (8 * i));
  }
  g.bytes[6] = static_cast<std::uint8_t>((g.bytes[6] & 0x0F) | 0x50);
  g.bytes[8] = static_cast<std::uint8_t>((g.bytes[8] & 0x3F) | 0x80);
  return g;
}

std::string text(const Guid& g) {
  char out[40];
  const std::uint8_t* b = g.bytes;
  std::snprintf(out, sizeof out,
                "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0], b[1],
                b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
                b[15]);
  return out;
}

std::string initializer(const Guid& g) {
  const std::uint8_t* b = g.bytes;
  char out[160];
  std::snprintf(out, sizeof out,
                "{0x%02X%02X%02X%02X, 0x%02X%02X, 0x%02X%02X, {0x%02X, 0x%02X, 0x%02X, 0x%02X, "
                "0x%02X, 0x%02X, 0x%02X, 0x%02X}}",
                b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12],
                b[13], b[14], b[15]);
  return out;
}

std::string u8(std::u16string_view s) {
  return toUtf8(s);
}

std::string quoted(std::u16string_view s) {
  std::string out = "\"";
  for (char c : u8(s)) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string hex(std::int32_t id) {
  char out[16];
  std::snprintf(out, sizeof out, "0x%08x", static_cast<unsigned>(id));
  return out;
}

// The runtime's Collection is not in the library: its objects travel as plain IDispatch.
std::string objectInterface(ClassId id) {
  return id == ClassId::Collection ? "IDispatch" : u8(classInfo(id).interfaceName);
}

// The type as the IDL and widl's C++ declarations spell it.
std::string typeName(const TypeRef& t, bool cpp) {
  switch (t.type) {
    case ValueType::Void:
      return "void";
    case ValueType::Boolean:
      return "VARIANT_BOOL";
    case ValueType::Byte:
      return "unsigned char";
    case ValueType::Integer:
      return "short";
    case ValueType::Long:
      return cpp ? "LONG" : "long";
    case ValueType::Double:
      return "double";
    case ValueType::String:
      return "BSTR";
    case ValueType::Variant:
      return "VARIANT";
    case ValueType::Enumeration:
      return u8(t.enumeration->name);
    case ValueType::Object:
      return objectInterface(t.objectClass) + "*";
  }
  return "";
}

// The suffix of the ComObject.h helpers that carry a value of the type.
std::string helper(const TypeRef& t) {
  switch (t.type) {
    case ValueType::Boolean:
      return "Boolean";
    case ValueType::Byte:
      return "Byte";
    case ValueType::Integer:
      return "Integer";
    case ValueType::Long:
      return "Long";
    case ValueType::Double:
      return "Double";
    case ValueType::String:
      return "String";
    case ValueType::Variant:
      return "Variant";
    case ValueType::Enumeration:
      return "Enum";
    case ValueType::Object:
      return "Object";
    case ValueType::Void:
      break;
  }
  return "";
}

std::string defaultValue(const Parameter& p) {
  return u8(p.defaultValue.toText());
}

bool isProperty(const Member& m) {
  return m.kind != MemberKind::Method;
}

std::string parameterName(const Parameter& p) {
  return p.name.empty() ? "rhs" : u8(p.name);
}

std::string cppName(const Member& m) {
  switch (m.kind) {
    case MemberKind::PropertyGet:
      return "get_" + u8(m.name);
    case MemberKind::PropertyPut:
      return "put_" + u8(m.name);
    case MemberKind::PropertyPutRef:
      return "putref_" + u8(m.name);
    case MemberKind::Method:
      break;
  }
  return u8(m.name);
}

// Method arguments go by reference, [in, out]; a property's value goes by value.
void writeIdlMember(std::ostream& out, const Member& m) {
  out << "        [id(" << hex(m.dispatchId) << ")";
  if (m.kind == MemberKind::PropertyGet) out << ", propget";
  if (m.kind == MemberKind::PropertyPut) out << ", propput";
  if (m.kind == MemberKind::PropertyPutRef) out << ", propputref";
  out << ", helpstring(" << quoted(m.help) << ")]\n        HRESULT " << u8(m.name) << "(";
  const char* separator = "";
  for (const Parameter& p : m.parameters) {
    out << separator;
    separator = ", ";
    if (isProperty(m)) {
      out << "[in] " << typeName(p.type, false) << " " << parameterName(p);
    } else {
      out << "[in, out";
      // widl cannot attach a text default to a string passed by reference; the server applies
      // the default of an argument left out all the same.
      if (p.optional) out << ", optional";
      if (p.optional && p.type.type != ValueType::String) {
        out << ", defaultvalue(" << defaultValue(p) << ")";
      }
      out << "] " << typeName(p.type, false) << "* " << parameterName(p);
    }
  }
  if (m.result.type != ValueType::Void) {
    out << separator << "[out, retval] " << typeName(m.result, false) << "* result";
  }
  out << ");\n";
}

void writeIdl(std::ostream& out) {
  const TypeLibrary& library = typeLibrary();
  std::string name = u8(library.name);
  out << "// Generated by kelcomgen from the automation layer's type library; do not edit.\n"
      << "import \"oaidl.idl\";\n\n"
      << "[uuid(" << text(guidOf("library")) << "), version(1.0), helpstring(\"" << name
      << "\")]\nlibrary " << name << "\n{\n    importlib(\"stdole2.tlb\");\n\n";
  for (const ClassInfo* c : library.classes)
    out << "    interface " << u8(c->interfaceName) << ";\n";
  out << "\n";
  for (const EnumInfo* e : library.enumerations) {
    out << "    typedef [uuid(" << text(guidOf("enum/" + u8(e->name))) << "), helpstring("
        << quoted(e->documentation) << ")]\n    enum " << u8(e->name) << " {\n";
    const char* separator = "";
    for (const EnumConstant& k : e->constants) {
      // widl takes no help string on an enumeration constant; each constant's help is its
      // own name, which the constant carries anyway.
      out << separator << "        " << u8(k.name) << " = " << k.value;
      separator = ",\n";
    }
    out << "\n    } " << u8(e->name) << ";\n\n";
  }
  for (const ClassInfo* c : library.classes) {
    out << "    [uuid(" << text(guidOf("interface/" + u8(c->interfaceName)))
        << "), version(1.0), hidden, dual, nonextensible, oleautomation, helpstring("
        << quoted(c->documentation) << ")]\n    interface " << u8(c->interfaceName)
        << " : IDispatch {\n";
    for (const Member& m : c->members) writeIdlMember(out, m);
    out << "    };\n\n    [uuid(" << text(guidOf("class/" + u8(c->name))) << "), helpstring("
        << quoted(c->documentation) << ")]\n    coclass " << u8(c->name)
        << " {\n        [default] interface " << u8(c->interfaceName) << ";\n    };\n\n";
  }
  out << "};\n";
}

// One vtable method: the arguments become variants, the automation layer's invoker runs the
// member, and what it wrote or returned goes back through the pointers.
void writeThunk(std::ostream& out, const Member& m) {
  bool property = isProperty(m);
  out << "  HRESULT STDMETHODCALLTYPE " << cppName(m) << "(";
  const char* separator = "";
  for (const Parameter& p : m.parameters) {
    out << separator << typeName(p.type, true) << (property ? " " : "* ") << parameterName(p);
    separator = ", ";
  }
  if (m.result.type != ValueType::Void) {
    out << separator << typeName(m.result, true) << "* result";
  }
  out << ") override {\n    return call([&] {\n";
  if (m.result.type != ValueType::Void) {
    out << "      if (result == nullptr) throw NullPointer();\n";
  }
  // An [out] pointer or variant holds nothing to release when the call fails.
  if (m.result.type == ValueType::Object || m.result.type == ValueType::String) {
    out << "      *result = nullptr;\n";
  } else if (m.result.type == ValueType::Variant) {
    out << "      ::VariantInit(result);\n";
  }
  std::string arguments = "{}";
  if (!m.parameters.empty()) {
    out << "      kel::Variant a[] = {";
    separator = "";
    for (const Parameter& p : m.parameters) {
      std::string value = property ? parameterName(p) : "deref(" + parameterName(p) + ")";
      out << separator << "arg" << helper(p.type) << "(" << value << ")";
      separator = ", ";
    }
    out << "};\n";
    arguments = "a";
  }
  const char* flag = m.kind == MemberKind::Method        ? "kMethod"
                     : m.kind == MemberKind::PropertyGet ? "kPropertyGet"
                     : m.kind == MemberKind::PropertyPut ? "kPropertyPut"
                                                         : "kPropertyPutRef";
  out << "      " << (m.result.type != ValueType::Void ? "kel::Variant r = " : "")
      << "invokeMember(" << hex(m.dispatchId) << ", kel::automation::" << flag << ", " << arguments
      << ");\n";
  for (std::size_t i = 0; i < m.parameters.size(); ++i) {
    if (m.parameters[i].written) {
      out << "      back" << helper(m.parameters[i].type) << "(a[" << i << "], *"
          << parameterName(m.parameters[i]) << ");\n";
    }
  }
  if (m.result.type == ValueType::Object) {
    std::string iid =
        m.result.objectClass == ClassId::Collection
            ? "IID_IDispatch"
            : "kInterfaceIds[" + std::to_string(static_cast<int>(m.result.objectClass)) + "]";
    out << "      retObject(r, " << iid << ", reinterpret_cast<void**>(result));\n";
  } else if (m.result.type != ValueType::Void) {
    out << "      ret" << helper(m.result) << "(r, result);\n";
  }
  out << "    });\n  }\n";
}

void writeClasses(std::ostream& out) {
  const TypeLibrary& library = typeLibrary();
  out << "// Generated by kelcomgen from the automation layer's type library; do not edit.\n"
      << "#include \"kelShapeLib.h\"\n#include \"windows/com/ComObject.h\"\n\n"
      << "namespace kel::com {\n\n"
      << "const GUID kLibraryId = " << initializer(guidOf("library")) << ";\n\n"
      << "// By class id; the runtime's Collection (0) has no interface of its own.\n"
      << "const GUID kInterfaceIds[] = {\n    IID_IDispatch,\n";
  // The class ids run in the library's order of ClassId; look each one up.
  for (int id = 1; id <= static_cast<int>(ClassId::Shapefile); ++id) {
    const ClassInfo& c = classInfo(static_cast<ClassId>(id));
    out << "    " << initializer(guidOf("interface/" + u8(c.interfaceName))) << ",  // "
        << u8(c.interfaceName) << "\n";
  }
  out << "};\n\nnamespace {\n\n";
  for (const ClassInfo* c : library.classes) {
    std::string name = u8(c->name) + "Object";
    out << "class " << name << " final : public ComObject<" << u8(c->interfaceName)
        << "> {\n public:\n  explicit " << name << "(kel::Ref<kel::Object> object)\n"
        << "      : ComObject(std::move(object), kInterfaceIds[" << static_cast<int>(c->id)
        << "]) {}\n\n";
    for (const Member& m : c->members) writeThunk(out, m);
    out << "};\n\n";
  }
  out << "}  // namespace\n\nconst ComClass kComClasses[] = {\n";
  for (const ClassInfo* c : library.classes) {
    out << "    {kel::ClassId::" << u8(c->name) << ", u\"" << u8(library.name) << "." << u8(c->name)
        << "\", " << initializer(guidOf("class/" + u8(c->name))) << "},\n";
  }
  out << "};\nconst std::size_t kComClassCount = std::size(kComClasses);\n\n"
      << "IDispatch* newWrapper(kel::Ref<kel::Object> object) {\n"
      << "  switch (object->classId()) {\n";
  for (const ClassInfo* c : library.classes) {
    out << "    case kel::ClassId::" << u8(c->name) << ":\n      return new " << u8(c->name)
        << "Object(std::move(object));\n";
  }
  out << "    default:\n      return newCollectionWrapper(std::move(object));\n  }\n}\n\n"
      << "}  // namespace kel::com\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: kelcomgen OUTPUT-DIRECTORY\n";
    return 2;
  }
  std::string dir = argv[1];
  std::ofstream idl(dir + "/kelShapeLib.idl"), classes(dir + "/ComClasses.cpp");
  writeIdl(idl);
  writeClasses(classes);
  idl.close();
  classes.close();
  if (!idl || !classes) {
    std::cerr << "kelcomgen: cannot write into " << dir << "\n";
    return 1;
  }
  return 0;
}
