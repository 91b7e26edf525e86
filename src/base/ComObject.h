// IUnknown for a COM object: reference counting and QueryInterface for one
// interface I, handed out under IID_IUnknown and the given IIDs.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace tamberlux {

template <class I, const IID&... Iids>
class ComObject : public I {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || ((iid == Iids) || ...)) {
      *out = static_cast<I*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
  }

 protected:
  virtual ~ComObject() = default;

 private:
  LONG refs_ = 1;
};

}  // namespace tamberlux
