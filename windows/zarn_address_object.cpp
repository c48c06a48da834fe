// The ZarnAddress COM object: the dual interface _ZarnAddress over the
// parser of the object's apartment.
#include <windows.h>
// <windows.h> maps GetClassInfo to the window-class function GetClassInfoW,
// which would rename IProvideClassInfo's method.
#undef GetClassInfo
#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>

#include <new>
#include <string>
#include <string_view>

#include "ZarnAddressParser.h"
#include "module.h"
#include "utf8.h"
#include "zarn/zarn.hpp"

namespace zarn::com {
namespace {

// Errors reach the caller as HRESULTs of the control facility carrying the
// error number (0x800A0000 + number), which Automation clients such as
// VBScript and VBA show as the plain number in Err.Number.
HRESULT HresultOf(int number) {
  if (number > 0 && number <= 0xFFFF) {
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<unsigned>(number));
  }
  return E_FAIL;
}

// UTF-8 (the library's text) to UTF-16 (a BSTR's); invalid bytes, which the
// library never produces, would become U+FFFD.
std::wstring Widen(std::string_view text) {
  std::string valid;
  utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid));
  std::u16string out;
  utf8::utf8to16(valid.begin(), valid.end(), std::back_inserter(out));
  return std::wstring(out.begin(), out.end());
}

BSTR AllocString(const std::wstring& text) {
  return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

class ZarnAddressObject : public _ZarnAddress, public ISupportErrorInfo, public IProvideClassInfo {
 public:
  explicit ZarnAddressObject(std::shared_ptr<const ZarnAddress> parser)
      : parser_(std::move(parser)) {
    AddObject();
  }
  virtual ~ZarnAddressObject() {
    if (type_info_ != nullptr) type_info_->Release();
    RemoveObject();
  }
  ZarnAddressObject(const ZarnAddressObject&) = delete;
  ZarnAddressObject& operator=(const ZarnAddressObject&) = delete;

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID__ZarnAddress)) {
      *object = static_cast<_ZarnAddress*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
      *object = static_cast<ISupportErrorInfo*>(this);
    } else if (IsEqualIID(riid, IID_IProvideClassInfo)) {
      *object = static_cast<IProvideClassInfo*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  // An apartment-threaded object is called on one thread only: the count
  // needs no atomic operations.
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  // IDispatch, through the type library embedded in the DLL.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID /*lcid*/, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    const HRESULT hr = LoadTypeInfo(IID__ZarnAddress, &type_info_);
    if (FAILED(hr)) return hr;
    type_info_->AddRef();
    *info = type_info_;
    return S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID /*lcid*/,
                             DISPID* ids) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const HRESULT hr = LoadTypeInfo(IID__ZarnAddress, &type_info_);
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(type_info_, names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID /*lcid*/, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* excep_info, UINT* arg_error) override {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    HRESULT hr = LoadTypeInfo(IID__ZarnAddress, &type_info_);
    if (FAILED(hr)) return hr;
    has_error_ = false;
    hr = type_info_->Invoke(static_cast<_ZarnAddress*>(this), id, flags, params, result, excep_info,
                            arg_error);
    // A failed call delivers no result, whatever the dispatcher left there.
    if (FAILED(hr) && result != nullptr) VariantClear(result);
    // The type library's dispatcher fills EXCEPINFO from the error object of
    // a failed call; make sure the caller has the number and message even
    // where it does not.
    if (hr == DISP_E_EXCEPTION && excep_info != nullptr && has_error_ &&
        excep_info->bstrDescription == nullptr) {
      excep_info->wCode = 0;
      excep_info->scode = error_hresult_;
      excep_info->bstrSource = SysAllocString(kSource);
      excep_info->bstrDescription = AllocString(error_message_);
    }
    return hr;
  }

  // _ZarnAddress
  STDMETHODIMP AddressSegment(BSTR* address_string, short* segment_type, BSTR* result) override {
    if (result == nullptr || address_string == nullptr || segment_type == nullptr) {
      return E_POINTER;
    }
    *result = nullptr;
    try {
      // The arguments are read, never written: the text is copied out of the
      // caller's string, and a null string is the empty string.
      const BSTR text = *address_string;
      const UINT length = text == nullptr ? 0 : SysStringLen(text);
      std::string address;
      address.reserve(length);
      try {
        utf8::utf16to8(text, text + length, std::back_inserter(address));
      } catch (const utf8::exception&) {
        return Fail(kErrorInvalidArgument,
                    L"the address is not valid UTF-16 (it holds an unpaired surrogate)");
      }
      const std::wstring answer = Widen(parser_->AddressSegment(address, *segment_type));
      *result = AllocString(answer);
      if (*result == nullptr) return Fail(kErrorOutOfMemory, L"Out of memory");
      SetErrorInfo(0, nullptr);
      return S_OK;
    } catch (const Error& e) {
      // The handlers allocate nothing that may throw past them: a message
      // that cannot be widened for lack of memory is left empty.
      std::wstring message;
      try {
        message = Widen(e.what());
      } catch (...) {
      }
      return Fail(e.Number(), message.c_str());
    } catch (const std::bad_alloc&) {
      return Fail(kErrorOutOfMemory, L"Out of memory");
    } catch (...) {
      return Fail(E_UNEXPECTED, L"unexpected failure in ZarnAddressParser");
    }
  }
  STDMETHODIMP Street(BSTR* address_string, VARIANT* result) override {
    return Shortcut(address_string, kStreet, result);
  }
  STDMETHODIMP StreetType(BSTR* address_string, VARIANT* result) override {
    return Shortcut(address_string, kStreetType, result);
  }
  STDMETHODIMP StreetNumber(BSTR* address_string, VARIANT* result) override {
    return Shortcut(address_string, kStreetNumber, result);
  }
  STDMETHODIMP Direction(BSTR* address_string, VARIANT* result) override {
    return Shortcut(address_string, kDirection, result);
  }
  STDMETHODIMP Unit(BSTR* address_string, VARIANT* result) override {
    return Shortcut(address_string, kUnit, result);
  }

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualIID(riid, IID__ZarnAddress) ? S_OK : S_FALSE;
  }

  // IProvideClassInfo
  STDMETHODIMP GetClassInfo(ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    return LoadTypeInfo(CLSID_ZarnAddress, info);
  }

 private:
  static constexpr const wchar_t* kSource = L"ZarnAddressParser";

  // Loads the type description `guid` from the type library in this DLL,
  // unless `*info` already holds it.
  static HRESULT LoadTypeInfo(REFGUID guid, ITypeInfo** info) {
    if (*info != nullptr) return S_OK;
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(guid, info);
    library->Release();
    return hr;
  }

  // A fixed-kind method: AddressSegment, called through the public interface
  // with the caller's address and the kind in a local variable.
  HRESULT Shortcut(BSTR* address_string, short kind, VARIANT* result) {
    if (result == nullptr) return E_POINTER;
    VariantInit(result);
    short segment_type = kind;
    BSTR answer = nullptr;
    _ZarnAddress* self = this;
    const HRESULT hr = self->AddressSegment(address_string, &segment_type, &answer);
    if (FAILED(hr)) return hr;
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = answer;
    return S_OK;
  }

  // Records the error for the caller: an error object with the number's
  // HRESULT and the message, and the same for Invoke's EXCEPINFO.
  HRESULT Fail(int number, const wchar_t* message) {
    const HRESULT hr = number < 0 ? static_cast<HRESULT>(number) : HresultOf(number);
    has_error_ = true;
    error_hresult_ = hr;
    try {
      error_message_ = message;
    } catch (const std::bad_alloc&) {
      error_message_.clear();
    }
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
      create->SetGUID(IID__ZarnAddress);
      create->SetSource(const_cast<LPOLESTR>(kSource));
      create->SetDescription(const_cast<LPOLESTR>(message));
      IErrorInfo* error = nullptr;
      if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&error)))) {
        SetErrorInfo(0, error);
        error->Release();
      }
      create->Release();
    }
    return hr;
  }

  ULONG refs_ = 1;
  std::shared_ptr<const ZarnAddress> parser_;
  ITypeInfo* type_info_ = nullptr;
  bool has_error_ = false;
  HRESULT error_hresult_ = S_OK;
  std::wstring error_message_;
};

}  // namespace

HRESULT CreateZarnAddressObject(REFIID riid, void** object) {
  *object = nullptr;
  ZarnAddressObject* created = nullptr;
  try {
    created = new ZarnAddressObject(ApartmentParser());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
  const HRESULT hr = created->QueryInterface(riid, object);
  created->Release();
  return hr;
}

}  // namespace zarn::com
