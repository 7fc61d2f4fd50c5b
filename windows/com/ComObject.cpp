#include "windows/com/ComObject.h"

#include <atomic>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "kel/automation/TypeLibrary.h"
#include "kel/runtime/Collection.h"
#include "kel/runtime/Error.h"

namespace kel::com {

// {6F0A3C51-2B7E-4D8A-9C1F-5E3B7A9D2C40}: private, never leaves the process.
const GUID kHolderId = {
    0x6f0a3c51, 0x2b7e, 0x4d8a, {0x9c, 0x1f, 0x5e, 0x3b, 0x7a, 0x9d, 0x2c, 0x40}};

namespace {

std::atomic<long> moduleLocks{0};

struct Identities {
  std::mutex lock;
  std::unordered_map<Object*, IDispatch*> wrappers;
};

Identities& identities() {
  static Identities* map = new Identities;  // outlives every wrapper, even at process exit
  return *map;
}

std::u16string_view textOf(const OLECHAR* text, std::size_t length) {
  return {reinterpret_cast<const char16_t*>(text), length};
}

ITypeLib* typeLibrary() {
  static ITypeLib* library = [] {
    wchar_t path[MAX_PATH];
    ITypeLib* loaded = nullptr;
    if (::GetModuleFileNameW(module(), path, MAX_PATH) != 0) {
      ::LoadTypeLibEx(path, REGKIND_NONE, &loaded);
    }
    return loaded;
  }();
  return library;
}

// The member that a late-bound call reaches, for its parameters' defaults and written flags.
const automation::Member* memberOf(const Object& object, DISPID id, WORD flags) {
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    flags |= DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
  }
  for (const automation::Member& m : automation::classInfo(object.classId()).members) {
    unsigned kind = 1u << static_cast<unsigned>(m.kind);
    if (m.dispatchId == id && (flags & kind)) return &m;
  }
  return nullptr;
}

HRESULT refusalResult(automation::Refused why) {
  return static_cast<HRESULT>(static_cast<std::uint32_t>(why));
}

bool isMissing(const VARIANT& v) {
  return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND;
}

// For Each over a Collection: the items as they were when the loop began.
class ItemEnumerator final : public ModuleObject<IEnumVARIANT, IID_IEnumVARIANT> {
 public:
  explicit ItemEnumerator(std::vector<Variant> items, std::size_t next = 0)
      : items_(std::move(items)), next_(next) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* out, ULONG* fetched) override {
    if (out == nullptr) return E_POINTER;
    ULONG done = 0;
    try {
      for (; done < count && next_ < items_.size(); ++done, ++next_) {
        ::VariantInit(&out[done]);
        toVariant(items_[next_], &out[done]);
      }
    } catch (...) {
      return E_OUTOFMEMORY;
    }
    if (fetched != nullptr) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    next_ = std::min<std::size_t>(items_.size(), next_ + count);
    return next_ < items_.size() ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** out) override {
    if (out == nullptr) return E_POINTER;
    *out = new (std::nothrow) ItemEnumerator(items_, next_);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  std::vector<Variant> items_;
  std::size_t next_;
};

class CollectionObject final : public ComObject<IDispatch> {
 public:
  explicit CollectionObject(Ref<Object> object) : ComObject(std::move(object), IID_IDispatch) {}
};

}  // namespace

HMODULE module() {
  HMODULE self = nullptr;
  ::GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&module), &self);
  return self;
}

void lockModule() {
  ++moduleLocks;
}
void unlockModule() {
  --moduleLocks;
}
bool moduleInUse() {
  return moduleLocks > 0;
}

IDispatch* wrap(Ref<Object> object) {
  if (!object) return nullptr;
  Identities& ids = identities();
  std::lock_guard guard(ids.lock);
  auto found = ids.wrappers.find(object.get());
  if (found != ids.wrappers.end()) {
    found->second->AddRef();
    return found->second;
  }
  Object* key = object.get();
  IDispatch* wrapper = newWrapper(std::move(object));
  ids.wrappers.emplace(key, wrapper);
  return wrapper;
}

void forget(Object* object) {
  Identities& ids = identities();
  std::lock_guard guard(ids.lock);
  ids.wrappers.erase(object);
}

Ref<Object> unwrap(IUnknown* pointer) {
  if (pointer == nullptr) return Ref<Object>();
  void* holder = nullptr;
  if (FAILED(pointer->QueryInterface(kHolderId, &holder)) || holder == nullptr) {
    raise(ErrorNumber::TypeMismatch);
  }
  Ref<Object> object = static_cast<Holder*>(holder)->ref();
  pointer->Release();  // the reference that the query added
  return object;
}

IDispatch* newCollectionWrapper(Ref<Object> object) {
  return new CollectionObject(std::move(object));
}

BSTR toBstr(std::u16string_view text) {
  BSTR b = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()),
                               static_cast<UINT>(text.size()));
  if (b == nullptr) throw std::bad_alloc();
  return b;
}

Variant fromVariant(const VARIANT& value) {
  VARTYPE vt = value.vt;
  if (vt == (VT_BYREF | VT_VARIANT)) return fromVariant(*value.pvarVal);
  bool byRef = (vt & VT_BYREF) != 0;
  switch (vt & ~VT_BYREF) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      throw Error(94, std::u16string(Error::kDefaultSource), u"Invalid use of Null");
    case VT_BOOL:
      return Variant::boolean((byRef ? *value.pboolVal : value.boolVal) != VARIANT_FALSE);
    case VT_UI1:
      return Variant::byte(byRef ? *value.pbVal : value.bVal);
    case VT_I2:
      return Variant(std::int16_t{byRef ? *value.piVal : value.iVal});
    case VT_I4:
      return Variant(static_cast<std::int32_t>(byRef ? *value.plVal : value.lVal));
    case VT_R8:
      return Variant(byRef ? *value.pdblVal : value.dblVal);
    case VT_BSTR: {
      BSTR b = byRef ? *value.pbstrVal : value.bstrVal;
      return Variant(textOf(b, b == nullptr ? 0 : ::SysStringLen(b)));
    }
    case VT_DISPATCH:
      return Variant(unwrap(byRef ? *value.ppdispVal : value.pdispVal));
    case VT_UNKNOWN:
      return Variant(unwrap(byRef ? *value.ppunkVal : value.punkVal));
    default:
      break;
  }
  // Other numbers (single, currency, date, the other integers) convert as automation converts
  // them: integers stay integers where they fit, the rest become doubles.
  VARIANT converted;
  ::VariantInit(&converted);
  VARTYPE plain = vt & ~VT_BYREF;
  bool integer = plain == VT_I1 || plain == VT_UI2 || plain == VT_UI4 || plain == VT_INT ||
                 plain == VT_UINT || plain == VT_I8 || plain == VT_UI8;
  if (integer &&
      SUCCEEDED(::VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_I4))) {
    return Variant(static_cast<std::int32_t>(converted.lVal));
  }
  if ((vt & VT_ARRAY) == 0 &&
      SUCCEEDED(::VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_R8))) {
    return Variant(converted.dblVal);
  }
  raise(ErrorNumber::TypeMismatch);
}

void toVariant(const Variant& value, VARIANT* out) {
  ::VariantClear(out);
  switch (value.kind()) {
    case Variant::Kind::Empty:
      out->vt = VT_EMPTY;
      break;
    case Variant::Kind::Boolean:
      out->vt = VT_BOOL;
      out->boolVal = value.toBoolean() ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    case Variant::Kind::Byte:
      out->vt = VT_UI1;
      out->bVal = value.toByte();
      break;
    case Variant::Kind::Integer:
      out->vt = VT_I2;
      out->iVal = value.toInt16();
      break;
    case Variant::Kind::Long:
      out->vt = VT_I4;
      out->lVal = value.toInt32();
      break;
    case Variant::Kind::Double:
      out->vt = VT_R8;
      out->dblVal = value.toDouble();
      break;
    case Variant::Kind::Text:
      out->bstrVal = toBstr(value.toText());
      out->vt = VT_BSTR;
      break;
    case Variant::Kind::Object:
      out->pdispVal = wrap(Ref<Object>(value.object()));
      out->vt = VT_DISPATCH;
      break;
  }
}

HRESULT resultOf(const Error& error) {
  return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, error.number() & 0xFFFF);
}

void setErrorInfo(const Error& error, const GUID& interfaceId) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(::CreateErrorInfo(&create))) return;
  std::u16string source = error.source(), description = error.description();
  create->SetGUID(interfaceId);
  create->SetSource(reinterpret_cast<LPOLESTR>(source.data()));
  create->SetDescription(reinterpret_cast<LPOLESTR>(description.data()));
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    ::SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

Variant argString(BSTR v) {
  return Variant(textOf(v, v == nullptr ? 0 : ::SysStringLen(v)));
}

void backString(const Variant& value, BSTR& out) {
  BSTR written = toBstr(value.toText());
  ::SysFreeString(out);
  out = written;
}

void retString(const Variant& v, BSTR* out) {
  *out = toBstr(v.toText());
}

void retVariant(const Variant& v, VARIANT* out) {
  ::VariantInit(out);
  toVariant(v, out);
}

void retObject(const Variant& v, REFIID iid, void** out) {
  *out = nullptr;
  IDispatch* wrapper = wrap(Ref<Object>(v.object()));
  if (wrapper == nullptr) return;
  HRESULT hr = wrapper->QueryInterface(iid, out);
  wrapper->Release();
  if (FAILED(hr)) raise(ErrorNumber::TypeMismatch);
}

HRESULT Holder::typeInfo(UINT index, ITypeInfo** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  ITypeLib* library = typeLibrary();
  if (library == nullptr || IsEqualIID(interfaceId_, IID_IDispatch)) return TYPE_E_ELEMENTNOTFOUND;
  return library->GetTypeInfoOfGuid(interfaceId_, out);
}

bool Holder::hasClass() const noexcept {
  return object_->classId() != ClassId::Collection;
}

HRESULT Holder::classInfo(ITypeInfo** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  ITypeLib* library = typeLibrary();
  for (std::size_t i = 0; library != nullptr && i < kComClassCount; ++i) {
    if (kComClasses[i].id == object_->classId()) {
      return library->GetTypeInfoOfGuid(kComClasses[i].classId, out);
    }
  }
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT Holder::idsOfNames(LPOLESTR* names, UINT count, DISPID* ids) {
  if (names == nullptr || ids == nullptr) return E_POINTER;
  if (count == 0) return S_OK;
  HRESULT hr = S_OK;
  try {
    ids[0] = automation::dispatchIdOf(*object_, textOf(names[0], ::wcslen(names[0])));
  } catch (const automation::Refusal&) {
    ids[0] = DISPID_UNKNOWN;
    hr = DISP_E_UNKNOWNNAME;
  } catch (...) {
    return E_UNEXPECTED;
  }
  // Named arguments are not taken.
  for (UINT i = 1; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT Holder::invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info,
                       UINT* /*argumentError*/) {
  if (params == nullptr) return E_INVALIDARG;
  bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
  if (put ? (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
          : params->cNamedArgs != 0) {
    return put ? DISP_E_PARAMNOTOPTIONAL : DISP_E_NONAMEDARGS;
  }
  try {
    if (id == DISPID_NEWENUM && object_->classId() == ClassId::Collection) {
      if (result == nullptr) return E_INVALIDARG;
      auto& list = static_cast<Collection&>(*object_);
      std::vector<Variant> items;
      for (std::int32_t i = 1; i <= list.count(); ++i) items.push_back(list.item(i));
      ::VariantClear(result);
      result->vt = VT_UNKNOWN;
      result->punkVal = new ItemEnumerator(std::move(items));
      return S_OK;
    }
    // The arguments come last to first; a put's value is the first of them.
    UINT n = params->cArgs;
    VARIANT* given = params->rgvarg;
    const automation::Member* member = memberOf(*object_, id, flags);
    // Optional arguments left off the end are the automation layer's to fill in.
    UINT left = 0;
    while (left < n && isMissing(given[left])) ++left;
    std::vector<Variant> arguments;
    for (UINT i = 0; i + left < n; ++i) {
      const VARIANT& v = given[n - 1 - i];
      if (!isMissing(v)) {
        arguments.push_back(fromVariant(v));
      } else if (member != nullptr && i < member->parameters.size() &&
                 member->parameters[i].optional) {
        arguments.push_back(member->parameters[i].defaultValue);
      } else {
        raise(ErrorNumber::ArgumentNotOptional);
      }
    }
    Variant value = automation::invoke(*object_, id, flags, arguments);
    for (std::size_t i = 0; member != nullptr && i < arguments.size(); ++i) {
      if (!member->parameters[i].written) continue;
      VARIANT& v = given[n - 1 - i];
      if (v.vt == (VT_BYREF | VT_BSTR)) {
        backString(arguments[i], *v.pbstrVal);
      } else if (v.vt == (VT_BYREF | VT_VARIANT)) {
        toVariant(arguments[i], v.pvarVal);
      }
    }
    if (result != nullptr) toVariant(value, result);
    return S_OK;
  } catch (const automation::Refusal& refusal) {
    return refusalResult(refusal.why());
  } catch (const Error& e) {
    if (info != nullptr) {
      *info = EXCEPINFO{};
      info->bstrSource = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(e.source().data()),
                                             static_cast<UINT>(e.source().size()));
      info->bstrDescription =
          ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(e.description().data()),
                              static_cast<UINT>(e.description().size()));
      info->scode = resultOf(e);
    }
    return DISP_E_EXCEPTION;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace kel::com
