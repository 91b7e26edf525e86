#include "errortrap/ErrObject.h"

#include <string>

#include "base/ComObject.h"

namespace tamberlux::vbw {
namespace {

// Three read-only properties. The dispatch is written out here: the
// platform's description-built dispatch (CreateDispTypeInfo) does not call
// its members under Wine, and the trap sits below the component's type library.
class ErrObject final : public ComObject<IDispatch, IID_IDispatch> {
 public:
  ErrObject(vb::Error error, std::wstring source) : error_(std::move(error)), source_(std::move(source)) {}

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      for (DISPID id = 1; id <= 3; ++id)
        if (lstrcmpiW(names[i], kNames[id - 1]) == 0) ids[i] = id;
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (id < 1 || id > 3) return DISP_E_MEMBERNOTFOUND;
    if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    if (params && params->cArgs) return DISP_E_BADPARAMCOUNT;
    if (!result) return S_OK;
    VariantInit(result);
    if (id == 1) {
      result->vt = VT_I4;
      result->lVal = error_.number;
    } else {
      result->vt = VT_BSTR;
      result->bstrVal = SysAllocString((id == 2 ? error_.description : source_).c_str());
    }
    return S_OK;
  }

 private:
  static constexpr const wchar_t* kNames[] = {L"Number", L"Description", L"Source"};
  vb::Error error_;
  std::wstring source_;
};

}  // namespace

ComPtr<IDispatch> NewErrObject(const vb::Error& error, const std::wstring& source) {
  return ComPtr<IDispatch>(new ErrObject(error, source), false);
}

}  // namespace tamberlux::vbw
