// Small owning wrappers for COM and Win32 resources: each closes or frees what
// it holds on every path. Modelled on unique_hkey/com_ptr, kept to what the
// component needs.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace tamberlux {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  explicit ComPtr(T* p, bool addRef = true) : p_(p) {
    if (p_ && addRef) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_) p_->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~ComPtr() { Reset(); }
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out-parameters: releases what is held first.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  T* Detach() { return std::exchange(p_, nullptr); }
  template <class U>
  ComPtr<U> Query(REFIID iid) const {
    ComPtr<U> out;
    if (p_) p_->QueryInterface(iid, out.PutVoid());
    return out;
  }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::wstring_view s)
      : b_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
  Bstr(const Bstr& o) : b_(o.b_ ? SysAllocStringLen(o.b_, SysStringLen(o.b_)) : nullptr) {}
  Bstr(Bstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
  ~Bstr() { SysFreeString(b_); }
  Bstr& operator=(Bstr o) noexcept {
    std::swap(b_, o.b_);
    return *this;
  }
  BSTR Get() const { return b_; }
  BSTR* Put() {
    SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }
  BSTR Detach() { return std::exchange(b_, nullptr); }
  // For a by-reference argument: the callee may replace the string.
  BSTR* Ref() { return &b_; }
  std::wstring Str() const { return b_ ? std::wstring(b_, SysStringLen(b_)) : std::wstring(); }

 private:
  BSTR b_ = nullptr;
};

// A VARIANT that clears itself.
class Variant : public VARIANT {
 public:
  Variant() { VariantInit(this); }
  Variant(const VARIANT& v) {
    VariantInit(this);
    VariantCopy(this, const_cast<VARIANT*>(&v));
  }
  Variant(const Variant& v) : Variant(static_cast<const VARIANT&>(v)) {}
  Variant(Variant&& v) noexcept {
    *static_cast<VARIANT*>(this) = v;
    VariantInit(&v);
  }
  Variant& operator=(Variant v) noexcept {
    std::swap(*static_cast<VARIANT*>(this), *static_cast<VARIANT*>(&v));
    return *this;
  }
  ~Variant() { VariantClear(this); }

  static Variant Of(std::wstring_view s) {
    Variant v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(s.data(), static_cast<UINT>(s.size()));
    return v;
  }
  static Variant Of(const wchar_t* s) { return Of(std::wstring_view(s)); }
  static Variant Of(const std::wstring& s) { return Of(std::wstring_view(s)); }
  static Variant Of(bool b) {
    Variant v;
    v.vt = VT_BOOL;
    v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
  }
  static Variant Of(LONG n) {
    Variant v;
    v.vt = VT_I4;
    v.lVal = n;
    return v;
  }
  static Variant Of(int n) { return Of(static_cast<LONG>(n)); }
  static Variant Of(SHORT n) {
    Variant v;
    v.vt = VT_I2;
    v.iVal = n;
    return v;
  }
  static Variant Of(double d) {
    Variant v;
    v.vt = VT_R8;
    v.dblVal = d;
    return v;
  }
  static Variant Of(IDispatch* d) {
    Variant v;
    v.vt = VT_DISPATCH;
    v.pdispVal = d;
    if (d) d->AddRef();
    return v;
  }
  // An omitted optional argument, as a Visual Basic caller would pass it.
  static Variant Missing() {
    Variant v;
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
  }
  // The value a by-reference variant points at, or this one.
  const VARIANT& Deref() const {
    return (vt == (VT_BYREF | VT_VARIANT) && pvarVal) ? *pvarVal : static_cast<const VARIANT&>(*this);
  }
};

// One owner for every kind of handle: closed on every path, moved (never
// copied), reset before its address is handed out for an out-parameter.
// INVALID_HANDLE_VALUE counts as no handle.
template <class T, auto Close>
class Unique {
 public:
  Unique() = default;
  explicit Unique(T h) : h_(None(h) ? T{} : h) {}
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& o) noexcept : h_(std::exchange(o.h_, T{})) {}
  Unique& operator=(Unique&& o) noexcept {
    if (this != &o) Reset(std::exchange(o.h_, T{}));
    return *this;
  }
  ~Unique() { Reset(); }

  T Get() const { return h_; }
  explicit operator bool() const { return h_ != T{}; }
  void Reset(T h = T{}) {
    if (T old = std::exchange(h_, None(h) ? T{} : h); old != T{}) Close(old);
  }
  T* Put() {
    Reset();
    return &h_;
  }
  T Detach() { return std::exchange(h_, T{}); }

 private:
  static bool None(T h) {
    if constexpr (std::is_same_v<T, HANDLE>) return h == nullptr || h == INVALID_HANDLE_VALUE;
    else return h == T{};
  }
  T h_{};
};

using RegKey = Unique<HKEY, &RegCloseKey>;
using Handle = Unique<HANDLE, &CloseHandle>;
using Module = Unique<HMODULE, &FreeLibrary>;
using SafeArray = Unique<SAFEARRAY*, &SafeArrayDestroy>;
using FindHandle = Unique<HANDLE, &FindClose>;  // FindFirstFile's search
using HookHandle = Unique<HHOOK, &UnhookWindowsHookEx>;
using WindowHandle = Unique<HWND, &DestroyWindow>;  // a window of this thread

// A window's device context (the screen's for no window), released with the
// window it came from.
class WindowDC {
 public:
  explicit WindowDC(HWND window) : window_(window), dc_(GetDC(window)) {}
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  ~WindowDC() {
    if (dc_) ReleaseDC(window_, dc_);
  }
  HDC Get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

}  // namespace tamberlux
