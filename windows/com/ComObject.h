#pragma once

// The COM side of every object the server hands out: a wrapper that holds one library object,
// counts references, answers IDispatch through the automation layer and, for the eight classes,
// implements the dual interface whose vtable methods kelcomgen generates (ComClasses.cpp).

// windows.h comes first: the other headers build on its types.
// clang-format off
#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>
// clang-format on

#include <cstddef>
#include <exception>
#include <span>
#include <utility>

#include "kel/automation/Dispatch.h"
#include "kel/runtime/Object.h"
#include "kel/runtime/Ref.h"
#include "kel/runtime/Variant.h"

namespace kel::com {

// What kelcomgen writes: the library's and interfaces' identities and the creatable classes.
struct ComClass {
  ClassId id;
  const char16_t* programmaticId;  // "kelShapeLib.Shapefile"
  GUID classId;
};
extern const GUID kLibraryId;
extern const GUID kInterfaceIds[];  // by ClassId
extern const ComClass kComClasses[];
extern const std::size_t kComClassCount;

// The module: its handle and the count of objects and locks that keep it loaded.
HMODULE module();
void lockModule();
void unlockModule();
bool moduleInUse();

// IUnknown for a small object of one interface (a class factory, an enumerator) that keeps the
// module loaded while it lives.
template <class Interface, const IID& kInterfaceId>
class ModuleObject : public Interface {
 public:
  ModuleObject() { lockModule(); }
  virtual ~ModuleObject() { unlockModule(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, kInterfaceId)) {
      *out = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 private:
  ULONG references_ = 1;
};

// The wrapper of a library object: the same one for as long as it lives, so that a script sees
// one COM identity per object. The result carries a reference for the caller.
IDispatch* wrap(Ref<Object> object);
// The library object behind an interface pointer that this server handed out; null for null.
// A foreign object is a type mismatch.
Ref<Object> unwrap(IUnknown* pointer);
// New wrappers, by class (generated) and for the runtime's Collection.
IDispatch* newWrapper(Ref<Object> object);
IDispatch* newCollectionWrapper(Ref<Object> object);

// VARIANT <-> library variant, as automation converts them.
Variant fromVariant(const VARIANT& value);
void toVariant(const Variant& value, VARIANT* out);  // `out` must be initialised
BSTR toBstr(std::u16string_view text);

// How a failure reaches a COM caller: the HRESULT of an automation error is
// MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number), as script engines expect.
HRESULT resultOf(const Error& error);
// Sets the thread's error information for a failed vtable call.
void setErrorInfo(const Error& error, const GUID& interfaceId);

// The identity that unwrap() asks for; only this server's wrappers answer it.
extern const GUID kHolderId;

struct NullPointer {};

// Shared by the wrappers of every class: the object, the reference count, IDispatch.
class Holder {
 public:
  Holder(Ref<Object> object, const GUID& interfaceId)
      : object_(std::move(object)), interfaceId_(interfaceId) {}
  Object& object() const noexcept { return *object_; }
  const Ref<Object>& ref() const noexcept { return object_; }
  const GUID& interfaceId() const noexcept { return interfaceId_; }

 protected:
  HRESULT typeInfo(UINT index, ITypeInfo** out);
  bool hasClass() const noexcept;  // a class of the library, not the runtime's Collection
  HRESULT classInfo(ITypeInfo** out);
  HRESULT idsOfNames(LPOLESTR* names, UINT count, DISPID* ids);
  HRESULT invoke(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info,
                 UINT* argumentError);

  Ref<Object> object_;
  GUID interfaceId_;
};

template <class Interface>
class ComObject : public Interface,
                  public ISupportErrorInfo,
                  public IProvideClassInfo,
                  public Holder {
 public:
  ComObject(Ref<Object> object, const GUID& interfaceId) : Holder(std::move(object), interfaceId) {
    lockModule();
  }
  virtual ~ComObject() { unlockModule(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, interfaceId_)) {
      *out = static_cast<Interface*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else if (IsEqualIID(iid, IID_IProvideClassInfo) && hasClass()) {
      *out = static_cast<IProvideClassInfo*>(this);
    } else if (IsEqualIID(iid, kHolderId)) {
      *out = static_cast<Holder*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualIID(iid, interfaceId_) ? S_OK : S_FALSE;
  }

  // The class a script's TypeName reports: "Shapefile", not its interface "_Shapefile".
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override { return classInfo(out); }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = IsEqualIID(interfaceId_, IID_IDispatch) ? 0 : 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    return typeInfo(index, out);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    return idsOfNames(names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* info, UINT* argumentError) override {
    return invoke(id, flags, params, result, info, argumentError);
  }

 protected:
  // Runs one vtable method: every failure becomes the HRESULT and error information a COM caller
  // expects, and nothing is thrown across the interface.
  template <class Body>
  HRESULT call(Body&& body) noexcept {
    try {
      body();
      return S_OK;
    } catch (const NullPointer&) {
      return E_POINTER;
    } catch (const Error& e) {
      setErrorInfo(e, interfaceId_);
      return resultOf(e);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

  Variant invokeMember(std::int32_t id, unsigned flags, std::span<Variant> arguments) {
    return automation::invoke(*object_, id, flags, arguments);
  }

 private:
  ULONG references_ = 1;
};

void forget(Object* object);  // drops the wrapper of the object from the identity map

template <class Interface>
ULONG STDMETHODCALLTYPE ComObject<Interface>::Release() {
  ULONG left = --references_;
  if (left == 0) {
    forget(object_.get());
    delete this;
  }
  return left;
}

// The vtable methods' arguments: a by-reference argument must be there.
template <class T>
T& deref(T* pointer) {
  if (pointer == nullptr) throw NullPointer();
  return *pointer;
}

inline Variant argBoolean(VARIANT_BOOL v) {
  return Variant::boolean(v != VARIANT_FALSE);
}
inline Variant argByte(unsigned char v) {
  return Variant::byte(v);
}
inline Variant argInteger(short v) {
  return Variant(std::int16_t{v});
}
inline Variant argLong(LONG v) {
  return Variant(static_cast<std::int32_t>(v));
}
inline Variant argDouble(double v) {
  return Variant(v);
}
Variant argString(BSTR v);
inline Variant argVariant(const VARIANT& v) {
  return fromVariant(v);
}
template <class E>
Variant argEnum(E v) {
  return Variant(static_cast<std::int32_t>(v));
}
inline Variant argObject(IUnknown* v) {
  return Variant(unwrap(v));
}

// What a member wrote into a by-reference string goes back to the caller's variable.
void backString(const Variant& value, BSTR& out);

inline void retBoolean(const Variant& v, VARIANT_BOOL* out) {
  *out = v.toBoolean() ? VARIANT_TRUE : VARIANT_FALSE;
}
inline void retByte(const Variant& v, unsigned char* out) {
  *out = v.toByte();
}
inline void retInteger(const Variant& v, short* out) {
  *out = v.toInt16();
}
inline void retLong(const Variant& v, LONG* out) {
  *out = v.toInt32();
}
inline void retDouble(const Variant& v, double* out) {
  *out = v.toDouble();
}
void retString(const Variant& v, BSTR* out);
void retVariant(const Variant& v, VARIANT* out);
template <class E>
void retEnum(const Variant& v, E* out) {
  *out = static_cast<E>(v.toInt32());
}
void retObject(const Variant& v, REFIID iid, void** out);

}  // namespace kel::com
