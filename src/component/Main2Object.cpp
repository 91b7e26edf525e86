#include "component/Main2Object.h"

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Tamberlux.h"
#include "base/ComObject.h"
#include "base/ThreadValues.h"
#include "base/TypeDescriptions.h"
#include "base/VbError.h"
#include "component/Main2.h"
#include "component/Server.h"
#include "errortrap/vbwProtector.h"

namespace tamberlux {
namespace {

// The thread's type information, and how many objects of the thread use it:
// released with the thread's last object, while its apartment still stands
// (released at the thread's end, after the caller left its apartment, it
// crashed the caller's process under Wine).
ComPtr<ITypeInfo>& ThreadTypeInfo() {
  thread_local ComPtr<ITypeInfo>* info = nullptr;
  return ThreadOwned(info);
}
thread_local int threadObjects = 0;

HRESULT Main2TypeInfo(ITypeInfo** out) {
  ComPtr<ITypeInfo>& info = ThreadTypeInfo();
  if (!info) {
    const HRESULT hr = OwnTypeInfo(IID__Main2, info.Put());
    if (FAILED(hr)) return hr;
  }
  *out = info.Get();
  (*out)->AddRef();
  return S_OK;
}

// Writes an object into the caller's by-reference argument.
void StoreObject(VARIANT& v, const LateObject& object) {
  if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal) return StoreObject(*v.pvarVal, object);
  IDispatch* d = object.Get();
  if (d) d->AddRef();
  if (v.vt == (VT_BYREF | VT_DISPATCH) && v.ppdispVal) {
    if (*v.ppdispVal) (*v.ppdispVal)->Release();
    *v.ppdispVal = d;
    return;
  }
  VariantClear(&v);
  v.vt = VT_DISPATCH;
  v.pdispVal = d;
}

// The caller's text of a by-reference BSTR argument.
std::wstring TextOf(BSTR* b) { return (b && *b) ? std::wstring(*b, SysStringLen(*b)) : std::wstring(); }

// The caller's list of texts in a by-reference array (an uninitialised array
// is an empty list).
std::vector<std::wstring> TextsOf(SAFEARRAY** array) {
  std::vector<std::wstring> texts;
  SAFEARRAY* sa = array ? *array : nullptr;
  if (!sa) return texts;
  VARTYPE type = VT_EMPTY;
  SafeArrayGetVartype(sa, &type);
  if (SafeArrayGetDim(sa) != 1 || type != VT_BSTR) vb::Raise(vb::kTypeMismatch);
  LONG lower = 0, upper = -1;
  vb::Check(SafeArrayGetLBound(sa, 1, &lower));
  vb::Check(SafeArrayGetUBound(sa, 1, &upper));
  for (LONG i = lower; i <= upper; ++i) {
    Bstr item;
    vb::Check(SafeArrayGetElement(sa, &i, item.Put()));
    texts.push_back(item.Str());
  }
  return texts;
}

// Hands the caller the text of the error its call failed with, as a
// Visual Basic object does: a script's Err.Description, a compiled caller's
// exception text. The text ends at a NUL: one inside it (a name's) is
// written \0. A call that succeeded leaves no error behind.
void SetErrorText(HRESULT hr, const std::wstring& text) {
  ComPtr<ICreateErrorInfo> create;
  ComPtr<IErrorInfo> info;
  if (FAILED(hr) && SUCCEEDED(CreateErrorInfo(create.Put()))) {
    std::wstring whole;
    for (const wchar_t c : text) {
      if (c) whole += c;
      else whole += L"\\0";
    }
    create->SetGUID(IID__Main2);
    create->SetSource(const_cast<LPOLESTR>(L"Tamberlux.Main2"));
    create->SetDescription(whole.data());
    create->QueryInterface(IID_IErrorInfo, info.PutVoid());
  }
  SetErrorInfo(0, info.Get());
}

class Main2Object final : public ComObject<_Main2, IID_IDispatch, IID__Main2>,
                          public InstallMessages::IInstallOutcome {
 public:
  Main2Object() {
    // The first creation in a thread runs the component's start-up.
    thread_local bool started = false;
    if (!started) {
      started = true;
      vbw::vbwInitializeProtector();
    }
    ++threadObjects;
    DllAddRef();
  }
  ~Main2Object() override {
    // The terminator quits through the object's own interface.
    static_cast<_Main2*>(this)->Quit();
    if (--threadObjects == 0) {
      ThreadTypeInfo().Reset();
      vbw::State().mErrorParams = LateObject();
    }
    DllRelease();
  }

  // IUnknown for both interfaces: one object, one count.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out && iid == InstallMessages::IID_IInstallOutcome) {
      *out = static_cast<IInstallOutcome*>(this);
      AddRef();
      return S_OK;
    }
    return ComObject::QueryInterface(iid, out);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ComObject::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return ComObject::Release(); }

  // What the last HookIntoWord did.
  HRESULT STDMETHODCALLTYPE LastInstall(LONG* added, LONG* macro, BSTR* missing) override {
    if (!added || !macro || !missing) return E_POINTER;
    const InstallMessages::Outcome& o = main_.mInstallOutcome;
    *missing = SysAllocStringLen(o.missing.data(), static_cast<UINT>(o.missing.size()));
    if (!*missing) return E_OUTOFMEMORY;
    *added = static_cast<LONG>(o.added);
    *macro = static_cast<LONG>(o.macro);
    return S_OK;
  }

  // IDispatch, from the type library.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (index != 0) return DISP_E_BADINDEX;
    return Main2TypeInfo(out);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    ComPtr<ITypeInfo> info;
    HRESULT hr = Main2TypeInfo(info.Put());
    return FAILED(hr) ? hr : DispGetIDsOfNames(info.Get(), names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                   EXCEPINFO* excep, UINT* argErr) override;

  // _Main2. Each member runs behind the barrier; a call refused (or a Word
  // gone) once the trap has had it fails for its caller with that error's
  // number and text.
  template <class F>
  HRESULT Answer(F&& call) {
    std::wstring text;
    const HRESULT hr = vb::Barrier([&] {
      try {
        main_.mRefusal.reset();
        call();
        if (main_.mRefusal) throw *std::exchange(main_.mRefusal, std::nullopt);
      } catch (...) {
        text = vb::CurrentError().description;
        throw;
      }
    });
    SetErrorText(hr, text);
    return hr;
  }

  HRESULT STDMETHODCALLTYPE CreateAddInMonitor(BSTR* name, IDispatch** word) override {
    return Answer([&] {
      std::wstring n = TextOf(name);
      LateObject w(ComPtr<IDispatch>(word ? *word : nullptr));
      main_.CreateAddInMonitor(n, w);
      // A restart replaced Word: the caller's variable holds the new one (or Nothing).
      if (word && w.Get() != *word) {
        if (*word) (*word)->Release();
        *word = w.Get();
        if (*word) (*word)->AddRef();
      }
    });
  }
  HRESULT STDMETHODCALLTYPE HookIntoWord(BSTR* name, IDispatch** word, SAFEARRAY** dependencies,
                                         SAFEARRAY** dependenciesXPOrLater, IDispatch** result) override {
    if (result) *result = nullptr;
    return Answer([&] {
      std::wstring n = TextOf(name);
      LateObject w = (word && *word) ? LateObject(ComPtr<IDispatch>(*word)) : LateObject();
      std::vector<std::wstring> deps = TextsOf(dependencies), depsXP = TextsOf(dependenciesXPOrLater);
      const LateObject answer = main_.HookIntoWord(n, w, deps, depsXP);
      if (result && answer && !main_.mRefusal) (*result = answer.Get())->AddRef();
    });
  }
  HRESULT STDMETHODCALLTYPE DeleteCorruptedDataFolder(BSTR* version) override {
    return Answer([&] {
      std::wstring v = TextOf(version);
      main_.DeleteCorruptedDataFolder(v);
    });
  }
  HRESULT STDMETHODCALLTYPE StartRunTime(BSTR* name, VARIANT* word, VARIANT_BOOL* startZTL) override {
    return Answer([&] {
      std::wstring n = TextOf(name);
      const bool omitted = !word || (word->vt == VT_ERROR && word->scode == DISP_E_PARAMNOTFOUND);
      LateObject w = omitted ? LateObject() : LateObject::FromVariant(*word);
      main_.StartRunTime(n, w, !startZTL || *startZTL != VARIANT_FALSE);
      if (!omitted) StoreObject(*word, w);
    });
  }
  HRESULT STDMETHODCALLTYPE Quit() override {
    return Answer([&] { main_.Quit(); });
  }

 private:
  Main2 main_;
};

// The description of the method with this DISPID, or null.
FuncDesc FindFunc(ITypeInfo* info, DISPID id) {
  TypeAttr attr(info);
  if (FAILED(info->GetTypeAttr(attr.Put()))) return FuncDesc(info);
  for (WORD i = 0; i < attr->cFuncs; ++i) {
    FuncDesc desc(info);
    if (FAILED(info->GetFuncDesc(i, desc.Put()))) continue;
    if (desc->memid == id && desc->invkind == INVOKE_FUNC) return desc;
  }
  return FuncDesc(info);
}

// The element type a typed by-reference parameter wants (VT_ARRAY|VT_BSTR for
// a SAFEARRAY(BSTR)*), or VT_EMPTY for a VARIANT* or a by-value parameter.
VARTYPE ByRefType(const TYPEDESC& td) {
  if (td.vt != VT_PTR || !td.lptdesc) return VT_EMPTY;
  const TYPEDESC& target = *td.lptdesc;
  if (target.vt == VT_SAFEARRAY && target.lptdesc) return VT_ARRAY | target.lptdesc->vt;
  if (target.vt == VT_PTR && target.lptdesc && target.lptdesc->vt == VT_DISPATCH) return VT_DISPATCH;
  return target.vt == VT_VARIANT ? static_cast<VARTYPE>(VT_EMPTY) : target.vt;
}

// A one-dimensional array converted element by element into an array of the
// element type of `want` (a script's Array("a.dll") into an array of texts),
// with the same bounds. An uninitialised array stays one.
HRESULT ChangeArrayType(Variant& out, const VARIANT& source, VARTYPE want) {
  SAFEARRAY* sa = (source.vt & VT_BYREF) ? (source.pparray ? *source.pparray : nullptr) : source.parray;
  const VARTYPE from = source.vt & VT_TYPEMASK, to = want & VT_TYPEMASK;
  out = Variant();
  out.vt = want;
  out.parray = nullptr;
  if (!sa) return S_OK;
  LONG lower = 0, upper = -1;
  if (SafeArrayGetDim(sa) != 1 || FAILED(SafeArrayGetLBound(sa, 1, &lower)) ||
      FAILED(SafeArrayGetUBound(sa, 1, &upper)))
    return DISP_E_TYPEMISMATCH;
  SAFEARRAYBOUND bound{static_cast<ULONG>(upper - lower + 1), lower};
  SafeArray converted(SafeArrayCreate(to, 1, &bound));
  if (!converted) return DISP_E_TYPEMISMATCH;
  for (LONG i = lower; i <= upper; ++i) {
    Variant element, value;
    HRESULT hr = SafeArrayGetElement(sa, &i, from == VT_VARIANT ? static_cast<void*>(&element) : &element.lVal);
    if (from != VT_VARIANT && SUCCEEDED(hr)) element.vt = from;
    if (SUCCEEDED(hr)) hr = VariantChangeType(&value, &element, 0, to);
    if (SUCCEEDED(hr)) {
      // A text or an object is stored as itself, anything else from its address.
      void* data = to == VT_VARIANT                                          ? static_cast<void*>(&value)
                   : (to == VT_BSTR || to == VT_DISPATCH || to == VT_UNKNOWN) ? value.byref
                                                                              : static_cast<void*>(&value.lVal);
      hr = SafeArrayPutElement(converted.Get(), &i, data);
    }
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
  }
  out.parray = converted.Detach();
  return S_OK;
}

// The caller's arguments laid out afresh, one per parameter, the way the
// type library's own dispatch takes them:
// - a script passes its variables as by-reference variants, which a typed
//   by-reference parameter would refuse with a type mismatch: such an
//   argument is converted into a holder of the parameter's type, passed by
//   reference, and what the method leaves there is written back into the
//   caller's variant;
// - an omitted optional parameter with a default gets a holder with the
//   default (Wine would pass the default value itself in place of a pointer),
//   any other omitted optional one arrives as "missing";
// - named arguments become positional.
class LaidOutArguments {
 public:
  // Lays out the caller's `params` for the method `desc`; a failure names
  // the caller's own argument in `argErr` where one is to blame.
  HRESULT LayOut(const FUNCDESC& desc, const DISPPARAMS& params, UINT* argErr);
  DISPPARAMS Params() { return DISPPARAMS{args_.data(), nullptr, static_cast<UINT>(args_.size()), 0}; }
  // The caller's index of the laid-out argument at `index`, if the caller gave it.
  std::optional<UINT> CallersIndex(UINT index) const;
  // What the method left in the holders goes back into the caller's variables.
  void WriteBack();

 private:
  HRESULT LayOutOne(UINT param, const ELEMDESC& element, UINT* argErr);

  struct Holder {
    VARIANT* callerVariant;
    Variant value;
  };
  const VARIANT* callersArgs_ = nullptr;
  std::vector<const VARIANT*> given_;  // by parameter, null when omitted
  std::vector<Holder> holders_;
  std::vector<VARIANT> args_;          // in DISPPARAMS order: last parameter first
};

HRESULT LaidOutArguments::LayOut(const FUNCDESC& desc, const DISPPARAMS& params, UINT* argErr) {
  const UINT count = static_cast<UINT>(desc.cParams);
  const UINT positional = params.cArgs - params.cNamedArgs;
  if (positional > count) return DISP_E_BADPARAMCOUNT;
  callersArgs_ = params.rgvarg;
  given_.assign(count, nullptr);
  for (UINT i = 0; i < positional; ++i) given_[i] = &params.rgvarg[params.cArgs - 1 - i];
  for (UINT i = 0; i < params.cNamedArgs; ++i) {
    const auto param = static_cast<UINT>(params.rgdispidNamedArgs[i]);
    if (param >= count) {
      if (argErr) *argErr = i;
      return DISP_E_PARAMNOTFOUND;
    }
    given_[param] = &params.rgvarg[i];
  }
  holders_.reserve(count);  // arguments point into the holders: no reallocation
  args_.assign(count, VARIANT{});
  for (UINT param = 0; param < count; ++param)
    if (const HRESULT hr = LayOutOne(param, desc.lprgelemdescParam[param], argErr); FAILED(hr)) return hr;
  return S_OK;
}

HRESULT LaidOutArguments::LayOutOne(UINT param, const ELEMDESC& element, UINT* argErr) {
  const UINT count = static_cast<UINT>(given_.size());
  const VARTYPE want = ByRefType(element.tdesc);
  VARIANT& arg = args_[count - 1 - param];
  const VARIANT* from = given_[param];
  const bool byRefVariant = from && from->vt == (VT_BYREF | VT_VARIANT) && from->pvarVal;
  // A script's Array(...) given as an expression arrives as an array by value.
  const bool arrayByValue = from && (want & VT_ARRAY) && (from->vt & VT_ARRAY) && !(from->vt & VT_BYREF);
  if (from && ((!byRefVariant && !arrayByValue) || want == VT_EMPTY)) {
    arg = *from;
    return S_OK;
  }
  const USHORT paramFlags = element.paramdesc.wParamFlags;
  if (!from && !(paramFlags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT))) return DISP_E_PARAMNOTOPTIONAL;
  if (!from && (want == VT_EMPTY || !(paramFlags & PARAMFLAG_FHASDEFAULT) || !element.paramdesc.pparamdescex)) {
    arg.vt = VT_ERROR;
    arg.scode = DISP_E_PARAMNOTFOUND;
    return S_OK;
  }
  // A converted array is not written back: the caller's variable keeps its
  // own kind of array.
  Holder& h = holders_.emplace_back(Holder{byRefVariant && !(want & VT_ARRAY) ? from->pvarVal : nullptr, Variant()});
  const VARIANT& source = byRefVariant ? *from->pvarVal : from ? *from : element.paramdesc.pparamdescex->varDefaultValue;
  HRESULT hr = S_OK;
  if (want == VT_DISPATCH && (source.vt == VT_EMPTY || source.vt == VT_NULL)) {
    h.value.vt = VT_DISPATCH;
    h.value.pdispVal = nullptr;
  } else if ((want & VT_ARRAY) && (source.vt & VT_ARRAY)) {
    hr = ChangeArrayType(h.value, source, want);
  } else {
    hr = VariantChangeType(&h.value, const_cast<VARIANT*>(&source), 0, want);
  }
  if (FAILED(hr)) {
    if (argErr) *argErr = static_cast<UINT>(from ? from - callersArgs_ : 0);
    return DISP_E_TYPEMISMATCH;
  }
  arg.vt = VT_BYREF | h.value.vt;
  arg.byref = (h.value.vt & VT_ARRAY) ? static_cast<void*>(&h.value.parray) : static_cast<void*>(&h.value.bstrVal);
  return S_OK;
}

std::optional<UINT> LaidOutArguments::CallersIndex(UINT index) const {
  const UINT count = static_cast<UINT>(given_.size());
  if (index >= count || !given_[count - 1 - index]) return std::nullopt;
  return static_cast<UINT>(given_[count - 1 - index] - callersArgs_);
}

void LaidOutArguments::WriteBack() {
  for (Holder& h : holders_)
    if (h.callerVariant) VariantCopy(h.callerVariant, &h.value);
}

// The call: the arguments laid out, the type library's dispatch, and what
// the method left written back. A call with named arguments the layout does
// not know (DISPID_PROPERTYPUT and the like) goes to the dispatch as it came.
HRESULT STDMETHODCALLTYPE Main2Object::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                              VARIANT* result, EXCEPINFO* excep, UINT* argErr) {
  ComPtr<ITypeInfo> info;
  HRESULT hr = Main2TypeInfo(info.Put());
  if (FAILED(hr)) return hr;
  FuncDesc desc = params ? FindFunc(info.Get(), id) : FuncDesc(info.Get());
  for (UINT i = 0; desc && i < params->cNamedArgs; ++i)
    if (params->rgdispidNamedArgs[i] < 0) desc.Reset();
  if (!desc) return DispInvoke(static_cast<_Main2*>(this), info.Get(), id, flags, params, result, excep, argErr);

  LaidOutArguments args;
  hr = args.LayOut(*desc.Get(), *params, argErr);
  desc.Reset();
  if (FAILED(hr)) return hr;
  DISPPARAMS laidOut = args.Params();
  UINT laidOutErr = 0;
  hr = DispInvoke(static_cast<_Main2*>(this), info.Get(), id, flags, &laidOut, result, excep, &laidOutErr);
  // The caller is told which of its own arguments failed, in its own order.
  if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTFOUND)
    if (const auto index = args.CallersIndex(laidOutErr); index && argErr) *argErr = *index;
  args.WriteBack();
  return hr;
}

}  // namespace

IUnknown* CreateMain2Object() { return static_cast<_Main2*>(new Main2Object()); }

}  // namespace tamberlux
