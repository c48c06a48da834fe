// A late-bound client of the registered ZarnAddressParser.ZarnAddress, run
// under Wine by scripts/test.d/50-windows. It checks every call of an answer
// table written by the Linux build (zarn_expected_answers):
//
//   zarn_com_client EXPECTED.tsv STATE
//
// STATE is "present" or "missing": which rows to check, with the reference
// database in place or taken away by the caller. Every call goes by name
// (CLSIDFromProgID, GetIDsOfNames, Invoke) with the arguments by reference,
// as Visual Basic passes them, and is repeated through the dual interface's
// function table. Prints one line per fault and, when there is none, a last
// line "ZARN-COM-CLIENT-PASSED".
#include <windows.h>
// <windows.h> maps GetClassInfo to the window-class function GetClassInfoW.
#undef GetClassInfo
#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

// The identifiers, to compare the registration with the type library.
#include <initguid.h>

#include "ZarnAddressParser.h"

namespace {

int g_checks = 0;
int g_faults = 0;

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring FromBstr(BSTR s) {
  return s == nullptr ? std::wstring() : std::wstring(s, SysStringLen(s));
}

void Check(bool ok, const std::string& what) {
  ++g_checks;
  if (!ok) {
    ++g_faults;
    std::printf("FAIL: %s\n", what.c_str());
  }
}

struct Row {
  std::string state;
  std::string method;
  short kind = 0;
  std::wstring address;
  long number = 0;
  std::wstring text;
};

std::vector<Row> ReadRows(const char* path, const std::string& state) {
  std::vector<Row> rows;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> f;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
      f.push_back(line.substr(start, tab - start));
    }
    f.push_back(line.substr(start));
    if (f.size() != 6 || f[0] != state) continue;
    Row r;
    r.state = f[0];
    r.method = f[1];
    r.kind = static_cast<short>(std::stoi(f[2]));
    r.address = Wide(f[3]);
    r.number = std::stol(f[4]);
    r.text = Wide(f[5]);
    rows.push_back(std::move(r));
  }
  return rows;
}

// The outcome of one call.
struct Outcome {
  HRESULT hr = S_OK;
  VARTYPE type = VT_EMPTY;
  std::wstring value;
  HRESULT scode = S_OK;
  std::wstring description;
};

std::string Describe(const Row& r) {
  return r.method + "(" + Narrow(r.address).substr(0, 60) + ", " + std::to_string(r.kind) + ")";
}

// Calls `method` by name with AddressString (and SegmentType for
// AddressSegment) passed by reference, and checks that the caller's
// variables are untouched.
Outcome CallByName(IDispatch* object, const Row& r, BSTR address) {
  Outcome out;
  std::wstring name = Wide(r.method);
  LPOLESTR names[] = {name.data()};
  DISPID id = 0;
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  Check(SUCCEEDED(hr), "GetIDsOfNames " + r.method);
  if (FAILED(hr)) {
    out.hr = hr;
    return out;
  }
  BSTR caller_address = address;
  short caller_kind = r.kind;
  const std::wstring address_before = FromBstr(address);
  VARIANTARG args[2];
  VariantInit(&args[0]);
  VariantInit(&args[1]);
  UINT count = 1;
  // Arguments go last to first.
  if (r.method == "AddressSegment") {
    V_VT(&args[0]) = VT_I2 | VT_BYREF;
    V_I2REF(&args[0]) = &caller_kind;
    V_VT(&args[1]) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&args[1]) = &caller_address;
    count = 2;
  } else {
    V_VT(&args[0]) = VT_BSTR | VT_BYREF;
    V_BSTRREF(&args[0]) = &caller_address;
  }
  DISPPARAMS params{args, nullptr, count, 0};
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO excep{};
  UINT arg_error = 0;
  out.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                          &excep, &arg_error);
  out.type = V_VT(&result);
  if (V_VT(&result) == VT_BSTR) out.value = FromBstr(V_BSTR(&result));
  VariantClear(&result);
  if (out.hr == DISP_E_EXCEPTION) {
    if (excep.pfnDeferredFillIn != nullptr) excep.pfnDeferredFillIn(&excep);
    out.scode = excep.scode;
    out.description = FromBstr(excep.bstrDescription);
  }
  SysFreeString(excep.bstrSource);
  SysFreeString(excep.bstrDescription);
  SysFreeString(excep.bstrHelpFile);
  Check(caller_address == address && FromBstr(caller_address) == address_before,
        "AddressString changed by " + Describe(r));
  Check(caller_kind == r.kind, "SegmentType changed by " + Describe(r));
  return out;
}

// The same call through the dual interface's function table.
Outcome CallThroughVtable(_ZarnAddress* object, const Row& r, BSTR address) {
  Outcome out;
  BSTR caller_address = address;
  short caller_kind = r.kind;
  VARIANT v;
  VariantInit(&v);
  if (r.method == "AddressSegment") {
    BSTR s = nullptr;
    out.hr = object->AddressSegment(&caller_address, &caller_kind, &s);
    if (SUCCEEDED(out.hr)) {
      out.type = s == nullptr ? VT_NULL : VT_BSTR;
      out.value = FromBstr(s);
    }
    SysFreeString(s);
  } else {
    if (r.method == "Street") out.hr = object->Street(&caller_address, &v);
    if (r.method == "StreetType") out.hr = object->StreetType(&caller_address, &v);
    if (r.method == "StreetNumber") out.hr = object->StreetNumber(&caller_address, &v);
    if (r.method == "Direction") out.hr = object->Direction(&caller_address, &v);
    if (r.method == "Unit") out.hr = object->Unit(&caller_address, &v);
    out.type = V_VT(&v);
    if (V_VT(&v) == VT_BSTR) out.value = FromBstr(V_BSTR(&v));
    VariantClear(&v);
  }
  if (FAILED(out.hr)) {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK) {
      BSTR d = nullptr;
      info->GetDescription(&d);
      out.description = FromBstr(d);
      SysFreeString(d);
      info->Release();
    }
    out.scode = out.hr;
  }
  Check(caller_address == address, "AddressString pointer changed by " + Describe(r));
  Check(caller_kind == r.kind, "SegmentType changed through the vtable by " + Describe(r));
  return out;
}

void Compare(const Row& r, const Outcome& got, const char* how) {
  const std::string what = std::string(how) + " " + Describe(r);
  if (r.number == 0) {
    Check(got.hr == S_OK,
          what + ": failed with 0x" + std::to_string(static_cast<unsigned long>(got.hr)));
    Check(got.type == VT_BSTR,
          what + ": result is not a string (vt " + std::to_string(got.type) + ")");
    Check(got.value == r.text,
          what + ": got [" + Narrow(got.value) + "], want [" + Narrow(r.text) + "]");
  } else {
    const HRESULT want = static_cast<HRESULT>(0x800A0000UL | static_cast<unsigned long>(r.number));
    Check(FAILED(got.hr), what + ": succeeded, want error " + std::to_string(r.number));
    Check(got.scode == want, what + ": error code " + std::to_string(got.scode & 0xFFFF) +
                                 ", want " + std::to_string(r.number));
    Check(got.description == r.text,
          what + ": message [" + Narrow(got.description) + "], want [" + Narrow(r.text) + "]");
    Check(got.type == VT_EMPTY, what + ": a failed call returned a value");
  }
}

template <typename T>
T* Create(REFIID iid) {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"ZarnAddressParser.ZarnAddress", &clsid))) return nullptr;
  T* object = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                              reinterpret_cast<void**>(&object)))) {
    return nullptr;
  }
  return object;
}

// The registration and the type library describe the class as the callers
// of the component expect it.
void CheckTypeLibrary(IDispatch* object) {
  CLSID clsid;
  Check(SUCCEEDED(CLSIDFromProgID(L"ZarnAddressParser.ZarnAddress", &clsid)) &&
            IsEqualCLSID(clsid, CLSID_ZarnAddress),
        "the ProgID names the class");
  ITypeInfo* info = nullptr;
  Check(SUCCEEDED(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info)) && info != nullptr,
        "GetTypeInfo");
  if (info == nullptr) return;
  TYPEATTR* attr = nullptr;
  if (SUCCEEDED(info->GetTypeAttr(&attr))) {
    Check(IsEqualIID(attr->guid, IID__ZarnAddress), "the interface is _ZarnAddress");
    Check((attr->wTypeFlags & TYPEFLAG_FHIDDEN) != 0, "_ZarnAddress is hidden");
    Check((attr->wTypeFlags & TYPEFLAG_FDUAL) != 0, "_ZarnAddress is dual");
    info->ReleaseTypeAttr(attr);
  }
  // The function-table side of the dual interface is automation-compatible.
  ITypeInfo* vtable_info = nullptr;
  HREFTYPE ref = 0;
  if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) &&
      SUCCEEDED(info->GetRefTypeInfo(ref, &vtable_info))) {
    if (SUCCEEDED(vtable_info->GetTypeAttr(&attr))) {
      Check(attr->typekind == TKIND_INTERFACE && (attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION) != 0,
            "_ZarnAddress is automation-compatible");
      vtable_info->ReleaseTypeAttr(attr);
    }
    vtable_info->Release();
  } else {
    Check(false, "the dual interface has a function-table side");
  }
  // The six methods, in order after IDispatch's seven entries of the function
  // table, every parameter by reference and in/out; AddressSegment returns a
  // string and the five others a variant.
  const wchar_t* const methods[] = {L"AddressSegment", L"Street",    L"StreetType",
                                    L"StreetNumber",   L"Direction", L"Unit"};
  WORD func_count = 0;
  if (SUCCEEDED(info->GetTypeAttr(&attr))) {
    func_count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
  }
  for (UINT i = 0; i < 6; ++i) {
    const std::string method = Narrow(methods[i]);
    bool found = false;
    for (WORD f = 0; f < func_count; ++f) {
      FUNCDESC* func = nullptr;
      if (FAILED(info->GetFuncDesc(f, &func))) continue;
      BSTR name = nullptr;
      info->GetDocumentation(func->memid, &name, nullptr, nullptr, nullptr);
      if (FromBstr(name) == methods[i]) {
        found = true;
        Check(func->oVft == static_cast<SHORT>((7 + i) * sizeof(void*)),
              method + " is entry " + std::to_string(7 + i) + " of the function table");
        const SHORT want_params = i == 0 ? 2 : 1;
        Check(func->cParams == want_params, method + " parameter count");
        for (SHORT p = 0; p < func->cParams && p < want_params; ++p) {
          const ELEMDESC& e = func->lprgelemdescParam[p];
          const USHORT flags = e.paramdesc.wParamFlags;
          Check((flags & PARAMFLAG_FIN) && (flags & PARAMFLAG_FOUT),
                method + " parameter is in/out");
          const VARTYPE want = p == 0 ? VT_BSTR : VT_I2;
          Check(e.tdesc.vt == VT_PTR && e.tdesc.lptdesc->vt == want,
                method + " parameter is passed by reference with its type");
        }
        const VARTYPE want_result = i == 0 ? VT_BSTR : VT_VARIANT;
        Check(func->elemdescFunc.tdesc.vt == want_result, method + " result type");
      }
      SysFreeString(name);
      info->ReleaseFuncDesc(func);
    }
    Check(found, "the interface has " + method);
  }
  ITypeLib* library = nullptr;
  UINT index = 0;
  if (SUCCEEDED(info->GetContainingTypeLib(&library, &index))) {
    TLIBATTR* lib = nullptr;
    if (SUCCEEDED(library->GetLibAttr(&lib))) {
      Check(IsEqualGUID(lib->guid, LIBID_ZarnAddressParser), "the type library identifier");
      Check(lib->wMajorVerNum == 2 && lib->wMinorVerNum == 0, "the type library is version 2.0");
      library->ReleaseTLibAttr(lib);
    }
    BSTR name = nullptr;
    library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
    Check(FromBstr(name) == L"ZarnAddressParser", "the type library is named ZarnAddressParser");
    SysFreeString(name);
    library->Release();
  }
  info->Release();
}

// The rows of one state, checked through both calling routes. Every fifth
// address gets a fresh object, so that a result never depends on which
// object or how many earlier calls served it.
void CheckRows(const std::vector<Row>& rows) {
  IDispatch* shared = Create<IDispatch>(IID_IDispatch);
  Check(shared != nullptr, "CoCreateInstance by ProgID");
  if (shared == nullptr) return;
  CheckTypeLibrary(shared);
  _ZarnAddress* vtable = nullptr;
  Check(SUCCEEDED(shared->QueryInterface(IID__ZarnAddress, reinterpret_cast<void**>(&vtable))),
        "QueryInterface for _ZarnAddress");
  size_t n = 0;
  for (const Row& r : rows) {
    BSTR address = SysAllocStringLen(r.address.data(), static_cast<UINT>(r.address.size()));
    IDispatch* object = shared;
    if (++n % 5 == 0) object = Create<IDispatch>(IID_IDispatch);
    Compare(r, CallByName(object, r, address), "by name");
    if (vtable != nullptr) Compare(r, CallThroughVtable(vtable, r, address), "by vtable");
    // A null string is the empty string.
    if (r.address.empty()) Compare(r, CallByName(object, r, nullptr), "null string");
    if (object != shared) object->Release();
    SysFreeString(address);
  }
  if (vtable != nullptr) vtable->Release();
  shared->Release();
}

// Text that is not UTF-16 (an unpaired surrogate) is refused with the
// invalid-argument error (3001), and the object keeps working.
void CheckUnpairedSurrogate() {
  IDispatch* object = Create<IDispatch>(IID_IDispatch);
  if (object == nullptr) return;
  const wchar_t text[] = {L'1', L' ', 0xD800, L' ', L'S', L't'};
  Row r;
  r.method = "Street";
  r.address.assign(text, 6);
  BSTR address = SysAllocStringLen(text, 6);
  const Outcome got = CallByName(object, r, address);
  Check(got.hr == DISP_E_EXCEPTION && got.scode == static_cast<HRESULT>(0x800A0000UL + 3001) &&
            !got.description.empty(),
        "an unpaired surrogate fails with error 3001");
  SysFreeString(address);
  object->Release();
}

// Objects in another apartment (another single-threaded apartment's thread)
// give the same answers: each apartment has its own parser state.
void CheckOtherApartment(const std::vector<Row>& rows) {
  std::thread other([&rows] {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
      Check(false, "CoInitializeEx on a second thread");
      return;
    }
    IDispatch* object = Create<IDispatch>(IID_IDispatch);
    Check(object != nullptr, "CoCreateInstance in a second apartment");
    if (object != nullptr) {
      for (size_t i = 0; i < rows.size(); i += 7) {
        BSTR address =
            SysAllocStringLen(rows[i].address.data(), static_cast<UINT>(rows[i].address.size()));
        Compare(rows[i], CallByName(object, rows[i], address), "second apartment");
        SysFreeString(address);
      }
      object->Release();
    }
    CoUninitialize();
  });
  other.join();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: zarn_com_client EXPECTED.tsv present|missing\n");
    return 2;
  }
  const std::vector<Row> rows = ReadRows(argv[1], argv[2]);
  if (rows.empty()) {
    std::fprintf(stderr, "zarn_com_client: no rows for state %s in %s\n", argv[2], argv[1]);
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 3;
  CheckRows(rows);
  CheckOtherApartment(rows);
  if (std::string(argv[2]) == "present") CheckUnpairedSurrogate();
  CoFreeUnusedLibraries();
  CoUninitialize();
  std::printf("%d checks, %d faults\n", g_checks, g_faults);
  if (g_faults == 0) std::printf("ZARN-COM-CLIENT-PASSED\n");
  return g_faults == 0 ? 0 : 1;
}
