// Owners for the descriptions a type library or a type info lends out
// (TYPEATTR, FUNCDESC, TLIBATTR): each is handed back to the object that lent
// it, on every path, exceptions included. The lender is kept alive for as
// long as its description is held.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <utility>

#include "base/ComTypes.h"

namespace tamberlux {

// Lender: the interface that lent the description; Release: its member that
// takes the description back.
template <class Lender, class T, auto Release>
class Lent {
 public:
  explicit Lent(Lender* lender) : lender_(lender) {}
  Lent(const Lent&) = delete;
  Lent& operator=(const Lent&) = delete;
  Lent(Lent&& o) noexcept : lender_(std::move(o.lender_)), p_(std::exchange(o.p_, nullptr)) {}
  Lent& operator=(Lent&& o) noexcept {
    if (this != &o) {
      Reset();
      lender_ = std::move(o.lender_);
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  ~Lent() { Reset(); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) (lender_.Get()->*Release)(p);
  }
  // For the lender's out-parameter: hands back what is held first.
  T** Put() {
    Reset();
    return &p_;
  }

 private:
  ComPtr<Lender> lender_;
  T* p_ = nullptr;
};

using TypeAttr = Lent<ITypeInfo, TYPEATTR, &ITypeInfo::ReleaseTypeAttr>;
using FuncDesc = Lent<ITypeInfo, FUNCDESC, &ITypeInfo::ReleaseFuncDesc>;
using TLibAttr = Lent<ITypeLib, TLIBATTR, &ITypeLib::ReleaseTLibAttr>;

}  // namespace tamberlux
