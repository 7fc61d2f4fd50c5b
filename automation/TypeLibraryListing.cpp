#include "kel/automation/TypeLibraryListing.h"

#include <cstdio>

#include "kel/automation/TypeLibrary.h"
#include "kel/runtime/Text.h"

namespace kel::automation {

namespace {

std::u16string typeName(const TypeRef& t) {
  switch (t.type) {
    case ValueType::Void:
      return u"void";
    case ValueType::Boolean:
      return u"VARIANT_BOOL";
    case ValueType::Byte:
      return u"unsigned char";
    case ValueType::Integer:
      return u"short";
    case ValueType::Long:
      return u"long";
    case ValueType::Double:
      return u"double";
    case ValueType::String:
      return u"BSTR";
    case ValueType::Variant:
      return u"VARIANT";
    case ValueType::Enumeration:
      return std::u16string(t.enumeration->name);
    case ValueType::Object:
      return classInfo(t.objectClass).interfaceName + u"*";
  }
  return u"";
}

std::u16string hex(std::int32_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(id));
  return toUtf16(text);
}

std::u16string quoted(std::u16string_view text) {
  return u"\"" + std::u16string(text) + u"\"";
}

std::u16string attributes(const Member& m) {
  std::u16string a = u"[id(" + hex(m.dispatchId) + u")";
  if (m.kind == MemberKind::PropertyGet) a += u", propget";
  if (m.kind == MemberKind::PropertyPut) a += u", propput";
  if (m.kind == MemberKind::PropertyPutRef) a += u", propputref";
  return a + u", helpstring(" + quoted(m.help) + u")]";
}

std::u16string parameter(const Parameter& p, bool property) {
  std::u16string name = p.name.empty() ? u"rhs" : p.name;
  if (property) return u"[in] " + typeName(p.type) + u" " + name;
  // Method arguments go by reference; only the drivers' paths come back changed.
  std::u16string a = u"[in, out";
  if (p.optional) a += u", optional, defaultvalue(" + p.defaultValue.toText() + u")";
  return a + u"] " + typeName(p.type) + u"* " + name;
}

std::u16string signature(const Member& m) {
  bool property = m.kind != MemberKind::Method;
  std::u16string s = u"HRESULT " + m.name + u"(";
  for (std::size_t i = 0; i < m.parameters.size(); ++i) {
    if (i > 0) s += u", ";
    s += parameter(m.parameters[i], property);
  }
  if (m.result.type != ValueType::Void) {
    if (!m.parameters.empty()) s += u", ";
    s += u"[out, retval] " + typeName(m.result) + u"* result";
  }
  return s + u");";
}

}  // namespace

std::u16string typeLibraryListing() {
  const TypeLibrary& library = typeLibrary();
  std::u16string out = u"library " + std::u16string(library.name) + u"\n{\n";
  for (const EnumInfo* e : library.enumerations) {
    out += u"    [helpstring(" + quoted(e->documentation) + u")]\n    enum " +
           std::u16string(e->name) + u" {\n";
    for (const EnumConstant& c : e->constants) {
      out += u"        [helpstring(" + quoted(c.help) + u")] " + std::u16string(c.name) + u" = " +
             toUtf16(std::to_string(c.value)) + u",\n";
    }
    out += u"    };\n\n";
  }
  for (const ClassInfo* c : library.classes) {
    out += u"    [dual, helpstring(" + quoted(c->documentation) + u")]\n    interface " +
           c->interfaceName + u" : IDispatch {\n";
    for (const Member& m : c->members) {
      out += u"        " + attributes(m) + u"\n        " + signature(m) + u"\n";
    }
    out += u"    };\n    coclass " + c->name + u" { [default] interface " + c->interfaceName +
           u"; };\n\n";
  }
  return out + u"};\n";
}

}  // namespace kel::automation
