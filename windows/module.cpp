// DLL entry points of ZarnAddressParser.dll except registration: DllMain, the
// class factory, DllGetClassObject and DllCanUnloadNow.
#include "module.h"

#include <ole2.h>

#include <atomic>
#include <map>
#include <mutex>
#include <new>

// This file defines the identifiers that the type library's header declares.
#include <initguid.h>

#include "ZarnAddressParser.h"
#include "zarn/zarn.hpp"

namespace zarn::com {
namespace {

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

// The class factory is a static object: it lives as long as the DLL, and its
// references do not keep the DLL loaded (LockServer does).
class ClassFactory final : public IClassFactory {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return CreateZarnAddressObject(riid, object);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) {
      AddLock();
    } else {
      RemoveLock();
    }
    return S_OK;
  }
};

ClassFactory g_factory;

}  // namespace

HMODULE ModuleHandle() { return g_module; }

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(g_module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

void AddObject() { ++g_objects; }
void RemoveObject() { --g_objects; }
void AddLock() { ++g_locks; }
void RemoveLock() { --g_locks; }

std::shared_ptr<const ZarnAddress> ApartmentParser() {
  // An apartment-threaded object is only ever called on the thread of its
  // apartment, so the thread identifies the apartment. The map holds weak
  // references: the parser of an apartment lives while objects use it.
  static std::mutex mutex;
  static std::map<DWORD, std::weak_ptr<const ZarnAddress>> parsers;
  const DWORD thread = GetCurrentThreadId();
  const std::lock_guard<std::mutex> lock(mutex);
  for (auto it = parsers.begin(); it != parsers.end();) {
    if (it->first != thread && it->second.expired()) {
      it = parsers.erase(it);
    } else {
      ++it;
    }
  }
  std::weak_ptr<const ZarnAddress>& slot = parsers[thread];
  std::shared_ptr<const ZarnAddress> parser = slot.lock();
  if (!parser) {
    // The database is opened and closed by each database pass of a parse,
    // and nothing read from it is kept: between calls the file is not held
    // open, so it can be replaced or renamed while clients hold objects
    // (Windows refuses both on a file that is open).
    parser = std::make_shared<const ZarnAddress>(ReferenceDatabasePath(),
                                                 ParseOptions{.keep_file_open = false});
    slot = parser;
  }
  return parser;
}

}  // namespace zarn::com

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  // Thread notifications stay on: the C++ runtime linked into the DLL uses
  // them to destroy thread-local storage.
  if (reason == DLL_PROCESS_ATTACH) zarn::com::g_module = instance;
  return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_ZarnAddress)) return CLASS_E_CLASSNOTAVAILABLE;
  return zarn::com::g_factory.QueryInterface(riid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return (zarn::com::g_objects == 0 && zarn::com::g_locks == 0) ? S_OK : S_FALSE;
}
