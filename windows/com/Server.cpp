// The four entry points of the in-process server: class objects for the eight creatable classes,
// unloading when nothing is held, and the registration of classes, programmatic ids and the type
// library embedded in this module.

// windows.h comes first: the other headers build on its types.
// clang-format off
#include <windows.h>
#include <oleauto.h>
#include <olectl.h>
// clang-format on

#include <new>
#include <string>

#include "kel/automation/TypeLibrary.h"
#include "windows/com/ComObject.h"

using namespace kel;
using namespace kel::com;

namespace {

class ClassFactory final : public ModuleObject<IClassFactory, IID_IClassFactory> {
 public:
  explicit ClassFactory(ClassId id) : id_(id) {}

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    try {
      IDispatch* wrapper = wrap(automation::classInfo(id_).create());
      HRESULT hr = wrapper->QueryInterface(iid, out);
      wrapper->Release();
      return hr;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? lockModule() : unlockModule();
    return S_OK;
  }

 private:
  ClassId id_;
};

std::wstring wide(std::u16string_view text) {
  return std::wstring(text.begin(), text.end());
}

std::wstring guidText(const GUID& id) {
  wchar_t text[40];
  ::StringFromGUID2(id, text, 40);
  return text;
}

bool setValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle;
  if (::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, nullptr, &handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  LONG rc = ::RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(handle);
  return rc == ERROR_SUCCESS;
}

std::wstring modulePath() {
  wchar_t path[MAX_PATH];
  DWORD n = ::GetModuleFileNameW(module(), path, MAX_PATH);
  return n == 0 || n == MAX_PATH ? std::wstring() : std::wstring(path, n);
}

SYSKIND thisSystem() {
  return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
}

HRESULT registerClass(const ComClass& c, const std::wstring& path) {
  std::wstring clsid = guidText(c.classId);
  std::wstring key = L"CLSID\\" + clsid;
  std::wstring progId = wide(c.programmaticId);
  bool ok = setValue(key, nullptr, progId) && setValue(key + L"\\InprocServer32", nullptr, path) &&
            setValue(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
            setValue(key + L"\\ProgID", nullptr, progId) &&
            setValue(key + L"\\TypeLib", nullptr, guidText(kLibraryId)) &&
            setValue(key + L"\\VERSION", nullptr, L"1.0") && setValue(progId, nullptr, progId) &&
            setValue(progId + L"\\CLSID", nullptr, clsid);
  return ok ? S_OK : SELFREG_E_CLASS;
}

void unregisterClass(const ComClass& c) {
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + guidText(c.classId)).c_str());
  ::RegDeleteTreeW(HKEY_CLASSES_ROOT, wide(c.programmaticId).c_str());
}

}  // namespace

extern "C" {

HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  for (std::size_t i = 0; i < kComClassCount; ++i) {
    if (!IsEqualCLSID(clsid, kComClasses[i].classId)) continue;
    auto* factory = new (std::nothrow) ClassFactory(kComClasses[i].id);
    if (factory == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT __stdcall DllCanUnloadNow() {
  return moduleInUse() ? S_FALSE : S_OK;
}

HRESULT __stdcall DllRegisterServer() try {
  std::wstring path = modulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  ITypeLib* library = nullptr;
  HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
  if (FAILED(hr)) return SELFREG_E_TYPELIB;
  hr = ::RegisterTypeLib(library, const_cast<OLECHAR*>(path.c_str()), nullptr);
  library->Release();
  if (FAILED(hr)) return SELFREG_E_TYPELIB;
  for (std::size_t i = 0; i < kComClassCount; ++i) {
    hr = registerClass(kComClasses[i], path);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
} catch (...) {
  return E_OUTOFMEMORY;  // the only thing that throws on the way is a string's allocation
}

HRESULT __stdcall DllUnregisterServer() try {
  for (std::size_t i = 0; i < kComClassCount; ++i) unregisterClass(kComClasses[i]);
  HRESULT hr = ::UnRegisterTypeLib(kLibraryId, 1, 0, LOCALE_NEUTRAL, thisSystem());
  return hr == TYPE_E_REGISTRYACCESS || SUCCEEDED(hr) ? S_OK : SELFREG_E_TYPELIB;
} catch (...) {
  return E_OUTOFMEMORY;
}

}  // extern "C"
