// An early-bound C++ client of kelShapeLib.dll: creates the classes by their programmatic ids and
// calls them through the dual interfaces' vtables (widl's kelShapeLib.h), as a compiled Windows
// caller does. It builds, writes and reads back a PolyLine shapefile, checks errors and their
// error information, and holds the registered type library against the automation layer's own
// description. Usage: EarlyBoundClient OUTPUT-DIRECTORY
// The last line is always "N passed, N failed"; a run without it failed.

// clang-format off
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>
// clang-format on

#include <cstdio>
#include <string>
#include <utility>

#include "kel/automation/TypeLibrary.h"
#include "kelShapeLib.h"

namespace {

int passed = 0, failed = 0;

void check(const char* what, bool ok) {
  ok ? ++passed : ++failed;
  if (!ok) std::printf("FAIL: %s\n", what);
}

// An owned interface pointer.
template <class T>
class Com {
 public:
  Com() = default;
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  Com(Com&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Com& operator=(Com&& other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }
  ~Com() {
    if (p_ != nullptr) p_->Release();
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  T** out() { return &p_; }

 private:
  T* p_ = nullptr;
};

// A BSTR owned for the length of a call; `in` hands it to a by-reference parameter.
class Bstr {
 public:
  explicit Bstr(std::wstring_view text = {})
      : b_(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { ::SysFreeString(b_); }
  BSTR* in() { return &b_; }
  std::wstring text() const { return std::wstring(b_, ::SysStringLen(b_)); }

 private:
  BSTR b_;
};

template <class T>
Com<T> create(const wchar_t* className) {
  Com<T> object;
  CLSID clsid;
  std::wstring progId = std::wstring(L"kelShapeLib.") + className;
  if (SUCCEEDED(::CLSIDFromProgID(progId.c_str(), &clsid))) {
    ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T),
                       reinterpret_cast<void**>(object.out()));
  }
  return object;
}

Com<_ShapeObject> line(const double* xy, int n, short part, const wchar_t* name,
                       const wchar_t* lanes) {
  Com<_ShapeObject> shape = create<_ShapeObject>(L"ShapeObject");
  shape->put_ShapeType(kelPolyLine);
  for (int i = 0; i < n; ++i) {
    Com<_Coordinate> c = create<_Coordinate>(L"Coordinate");
    double x = xy[2 * i], y = xy[2 * i + 1];
    c->setCoordinate(&x, &y);
    VARIANT result;
    shape->addCoord(c.out(), &result);
  }
  LONG start = part;
  VARIANT result;
  if (part > 0) shape->addPart(&start, &result);
  Com<_Record> record = create<_Record>(L"Record");
  const wchar_t* values[2][2] = {{L"NAME", name}, {L"LANES", lanes}};
  for (auto& [fieldName, value] : values) {
    Com<_RecordField> field = create<_RecordField>(L"RecordField");
    Bstr n1(fieldName), v(value);
    field->setRecordField(n1.in(), v.in());
    VARIANT_BOOL added;
    record->addField(field.out(), &added);
  }
  shape->put_Record(record.get());
  shape->computeExtents(&result);
  return shape;
}

void addColumn(_TableDescription* table, const wchar_t* name, FieldTypeConstants type,
               unsigned char width) {
  Com<_TableDescriptor> d = create<_TableDescriptor>(L"TableDescriptor");
  Bstr n(name);
  unsigned char precision = 0;
  VARIANT result;
  d->setTableDescriptor(n.in(), &type, &width, &precision, &result);
  VARIANT_BOOL added;
  table->addTableDescriptor(d.out(), &added);
}

std::wstring fieldValue(_ShapeObject* shape, const wchar_t* name) {
  Com<_Record> record;
  shape->get_Record(record.out());
  Com<_RecordField> field;
  Bstr n(name), value;
  record->getFieldByName(n.in(), field.out());
  field->get_value(value.in());
  return value.text();
}

// The text of a BSTR that the callee allocated, which this frees.
std::u16string taken(BSTR text) {
  std::u16string result(reinterpret_cast<const char16_t*>(text), ::SysStringLen(text));
  ::SysFreeString(text);
  return result;
}

// The type of that name in the library, or none (a failed check).
Com<ITypeInfo> findType(ITypeLib* library, std::u16string_view name) {
  std::wstring wide(name.begin(), name.end());
  ITypeInfo* types[1];
  MEMBERID id;
  USHORT found = 1;
  Com<ITypeInfo> type;
  bool ok = SUCCEEDED(library->FindName(wide.data(), 0, types, &id, &found)) && found == 1;
  check("a type in the type library", ok);
  if (ok) *type.out() = types[0];
  return type;
}

// The registered type library, member for member, against the automation layer's description.
void checkTypeLibrary(IDispatch* object) {
  Com<ITypeInfo> info;
  Com<ITypeLib> library;
  UINT index = 0;
  check("GetTypeInfo", SUCCEEDED(object->GetTypeInfo(0, 0, info.out())));
  check("GetContainingTypeLib",
        info.get() != nullptr && SUCCEEDED(info->GetContainingTypeLib(library.out(), &index)));
  if (library.get() == nullptr) return;
  const kel::automation::TypeLibrary& described = kel::automation::typeLibrary();
  const INVOKEKIND kinds[] = {INVOKE_FUNC, INVOKE_PROPERTYGET, INVOKE_PROPERTYPUT,
                              INVOKE_PROPERTYPUTREF};
  std::size_t members = 0, same = 0;
  for (const kel::automation::ClassInfo* c : described.classes) {
    Com<ITypeInfo> type = findType(library.get(), c->interfaceName), vtable;
    if (type.get() == nullptr) continue;
    TYPEATTR* attributes = nullptr;
    type->GetTypeAttr(&attributes);
    // A dual interface is found as its dispatch side; its vtable side carries the slots.
    HREFTYPE ref;
    if (attributes->typekind == TKIND_DISPATCH &&
        SUCCEEDED(type->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref))) {
      type->GetRefTypeInfo(ref, vtable.out());
    }
    check("interfaces are dual", (attributes->wTypeFlags & TYPEFLAG_FDUAL) != 0);
    type->ReleaseTypeAttr(attributes);
    BSTR documentation = nullptr;
    type->GetDocumentation(MEMBERID_NIL, nullptr, &documentation, nullptr, nullptr);
    check("interface documentation", taken(documentation) == c->documentation);
    ITypeInfo* slots = vtable.get() != nullptr ? vtable.get() : type.get();
    for (std::size_t i = 0; i < c->members.size(); ++i, ++members) {
      const kel::automation::Member& m = c->members[i];
      FUNCDESC* f = nullptr;
      if (FAILED(slots->GetFuncDesc(static_cast<UINT>(i), &f))) continue;
      BSTR help = nullptr;
      slots->GetDocumentation(f->memid, nullptr, &help, nullptr, nullptr);
      // Slot i comes after IUnknown's three and IDispatch's four.
      bool ok =
          f->memid == m.dispatchId && f->invkind == kinds[static_cast<int>(m.kind)] &&
          taken(help) == m.help && f->oVft == static_cast<SHORT>((7 + i) * sizeof(void*)) &&
          f->cParams == static_cast<SHORT>(m.parameters.size() +
                                           (m.result.type != kel::automation::ValueType::Void));
      same += ok ? 1 : 0;
      if (!ok) {
        std::wstring name(c->interfaceName.begin(), c->interfaceName.end());
        std::printf("  differs: %ls slot %u\n", name.c_str(), static_cast<unsigned>(i));
      }
      slots->ReleaseFuncDesc(f);
    }
  }
  check("every member's slot, dispatch id, kind and help string", members > 50 && same == members);
  for (const kel::automation::EnumInfo* e : described.enumerations) {
    Com<ITypeInfo> type = findType(library.get(), e->name);
    if (type.get() == nullptr) continue;
    BSTR documentation = nullptr;
    type->GetDocumentation(MEMBERID_NIL, nullptr, &documentation, nullptr, nullptr);
    check("enumeration documentation", taken(documentation) == e->documentation);
    std::size_t same = 0;
    for (std::size_t i = 0; i < e->constants.size(); ++i) {
      VARDESC* v = nullptr;
      if (FAILED(type->GetVarDesc(static_cast<UINT>(i), &v))) continue;
      BSTR constant = nullptr;
      type->GetDocumentation(v->memid, &constant, nullptr, nullptr, nullptr);
      VARIANT value;
      ::VariantInit(&value);
      ::VariantChangeType(&value, v->lpvarValue, 0, VT_I4);
      same += taken(constant) == e->constants[i].name && value.lVal == e->constants[i].value;
      type->ReleaseVarDesc(v);
    }
    check("enumeration constants and values", same == e->constants.size());
  }
}

HRESULT canUnloadNow() {
  HMODULE server = ::GetModuleHandleW(L"kelShapeLib.dll");
  auto entry = reinterpret_cast<HRESULT(__stdcall*)()>(
      reinterpret_cast<void*>(::GetProcAddress(server, "DllCanUnloadNow")));
  return entry != nullptr ? entry() : E_FAIL;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::printf("usage: EarlyBoundClient OUTPUT-DIRECTORY\n");
    return 2;
  }
  ::CoInitialize(nullptr);
  {
    Com<_Shapefile> file = create<_Shapefile>(L"Shapefile");
    check("CoCreateInstance by ProgID", file.get() != nullptr);
    if (file.get() == nullptr) {
      std::printf("%d passed, %d failed\n", passed, failed + 1);
      return 1;
    }
    file->put_ShapeType(kelPolyLine);
    Com<_TableDescription> table;
    file->get_TableDescription(table.out());
    addColumn(table.get(), L"NAME", kelFieldTypeCharacter, 16);
    addColumn(table.get(), L"LANES", kelFieldTypeNumber, 3);
    const double first[] = {0.5, 1.25, 2, 3, 4.75, -1};
    const double second[] = {10, 10, 11, 12, 13, 10, 20, 20, 21, 22};
    const wchar_t* names[] = {L"Caf\u00e9 \u20ac", L"Stra\u00dfe \u0152"};
    Com<_ShapeObject> shapes[] = {line(first, 3, 0, names[0], L"2"),
                                  line(second, 5, 3, names[1], L"4")};
    for (auto& shape : shapes) {
      VARIANT_BOOL added = VARIANT_FALSE;
      file->addShapeObject(shape.out(), &added);
      check("addShapeObject is VARIANT_TRUE", added == VARIANT_TRUE);
    }
    Bstr basepath(argv[1]), filename(L"roads.shp");
    VARIANT_BOOL written = VARIANT_FALSE;
    check("writeShapefile succeeds",
          SUCCEEDED(file->writeShapefile(basepath.in(), filename.in(), &written)));
    check("writeShapefile is VARIANT_TRUE", written == VARIANT_TRUE);
    check("the file name is written back", filename.text() == L"roads");
    check("the base path is written back", basepath.text() == std::wstring(argv[1]) + L"\\");

    Com<_Shapefile> back = create<_Shapefile>(L"Shapefile");
    Bstr path(argv[1]), name(L"ROADS");
    VARIANT_BOOL read = VARIANT_FALSE;
    back->readShapefile(path.in(), name.in(), &read);
    check("readShapefile is VARIANT_TRUE", read == VARIANT_TRUE);
    short count = 0;
    back->get_ShapeObjectCount(&count);
    check("shapes read", count == 2);
    ShapeTypeConstants type = kelUndefined;
    back->get_ShapeType(&type);
    check("shape type read", type == kelPolyLine);
    const double* expected[] = {first, second};
    const short vertices[] = {3, 5};
    for (short s = 1; s <= 2; ++s) {
      Com<_ShapeObject> shape;
      back->getShapeObject(&s, shape.out());
      LONG n = 0;
      shape->get_CoordinateCount(&n);
      check("coordinates read", n == vertices[s - 1]);
      for (short i = 1; i <= n && i <= vertices[s - 1]; ++i) {
        Com<_Coordinate> c;
        shape->getCoord(&i, c.out());
        double x = 0, y = 0;
        c->get_X(&x);
        c->get_Y(&y);
        check("vertex read", x == expected[s - 1][2 * i - 2] && y == expected[s - 1][2 * i - 1]);
      }
      std::wstring padded = std::wstring(16 - std::wcslen(names[s - 1]), L' ') + names[s - 1];
      check("text beyond ASCII read back", fieldValue(shape.get(), L"NAME") == padded);
      check("number read back", fieldValue(shape.get(), L"LANES") == (s == 1 ? L"  2" : L"  4"));
    }

    // A failure: the HRESULT of error 9 and its error information.
    Com<_ShapeObject> missing;
    short index = 99;
    HRESULT hr = back->getShapeObject(&index, missing.out());
    check("an error is MAKE_HRESULT(1, FACILITY_CONTROL, number)",
          hr == MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, 9));
    Com<ISupportErrorInfo> supports;
    back->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(supports.out()));
    check("ISupportErrorInfo", supports.get() != nullptr && supports->InterfaceSupportsErrorInfo(
                                                                __uuidof(_Shapefile)) == S_OK);
    Com<IErrorInfo> info;
    check("error information is set", ::GetErrorInfo(0, info.out()) == S_OK);
    if (info.get() != nullptr) {
      Bstr source, description;
      info->GetSource(source.in());
      info->GetDescription(description.in());
      check("error source", source.text() == L"kelShapeLib");
      check("error description", description.text() == L"Subscript out of range");
    }

    // Strings are BSTRs: embedded NULs survive.
    Com<_RecordField> field = create<_RecordField>(L"RecordField");
    Bstr withNul(std::wstring_view(L"a\0b", 3));
    field->put_name(*withNul.in());
    Bstr got;
    field->get_name(got.in());
    check("embedded NUL", got.text() == std::wstring(L"a\0b", 3));

    Com<IProvideClassInfo> provides;
    Com<ITypeInfo> coclass;
    BSTR className = nullptr;
    file->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(provides.out()));
    if (provides.get() != nullptr && SUCCEEDED(provides->GetClassInfo(coclass.out()))) {
      coclass->GetDocumentation(MEMBERID_NIL, &className, nullptr, nullptr, nullptr);
    }
    check("the class behind the object",
          className != nullptr && std::wstring(className) == L"Shapefile");
    ::SysFreeString(className);

    checkTypeLibrary(file.get());
    check("the server stays while objects live", canUnloadNow() == S_FALSE);
  }
  check("the server may go once every object is released", canUnloadNow() == S_OK);
  ::CoUninitialize();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
