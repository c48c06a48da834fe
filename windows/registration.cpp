// DllRegisterServer and DllUnregisterServer: the ProgID, the class with its
// server path and threading model, and the type library.
#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>

#include <string>

#include "ZarnAddressParser.h"
#include "module.h"

namespace {

constexpr const wchar_t* kProgId = L"ZarnAddressParser.ZarnAddress";
constexpr WORD kTypeLibMajor = 2;
constexpr WORD kTypeLibMinor = 0;

std::wstring GuidString(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// Sets `name` (the default value when null) of HKEY_CLASSES_ROOT\`key` to
// `value`, creating the key.
bool SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, &handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
  const LONG rc =
      RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
  RegCloseKey(handle);
  return rc == ERROR_SUCCESS;
}

// Deletes HKEY_CLASSES_ROOT\`key` with everything under it; a key that is
// not there counts as deleted.
bool DeleteTree(const std::wstring& key) {
  const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return false;
  const LONG rc2 = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
  return rc2 == ERROR_SUCCESS || rc2 == ERROR_FILE_NOT_FOUND;
}

HRESULT UnregisterAll() {
  const std::wstring clsid_key = L"CLSID\\" + GuidString(CLSID_ZarnAddress);
  bool ok = DeleteTree(clsid_key);
  ok = DeleteTree(kProgId) && ok;
#ifdef _WIN64
  const SYSKIND kind = SYS_WIN64;
#else
  const SYSKIND kind = SYS_WIN32;
#endif
  const HRESULT hr = UnRegisterTypeLib(LIBID_ZarnAddressParser, kTypeLibMajor, kTypeLibMinor,
                                       LOCALE_NEUTRAL, kind);
  // A type library that was never registered is no failure here.
  if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_CANTLOADLIBRARY &&
      hr != HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
    ok = false;
  }
  return ok ? S_OK : SELFREG_E_CLASS;
}

}  // namespace

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
  const std::wstring path = zarn::com::ModulePath();
  if (path.empty()) return SELFREG_E_CLASS;

  // The type library, with the interface entries that let COM marshal the
  // dual interface across apartments.
  ITypeLib* library = nullptr;
  HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &library);
  if (FAILED(hr)) return SELFREG_E_TYPELIB;
  library->Release();

  const std::wstring clsid = GuidString(CLSID_ZarnAddress);
  const std::wstring clsid_key = L"CLSID\\" + clsid;
  const bool ok =
      SetValue(kProgId, nullptr, kProgId) &&
      SetValue(std::wstring(kProgId) + L"\\CLSID", nullptr, clsid) &&
      SetValue(clsid_key, nullptr, kProgId) &&
      SetValue(clsid_key + L"\\InprocServer32", nullptr, path) &&
      SetValue(clsid_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
      SetValue(clsid_key + L"\\ProgID", nullptr, kProgId) &&
      SetValue(clsid_key + L"\\TypeLib", nullptr, GuidString(LIBID_ZarnAddressParser)) &&
      SetValue(clsid_key + L"\\Version", nullptr, L"2.0") &&
      SetValue(clsid_key + L"\\Programmable", nullptr, L"");
  if (!ok) {
    UnregisterAll();
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() { return UnregisterAll(); }
