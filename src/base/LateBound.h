// The one way the component calls outside objects late-bound (Word, the error
// reporter, the window hook): names become DISPIDs once per object, arguments
// go positional or named, failures arrive as the numbers a Visual Basic caller
// sees (Word's 0x800A11FD as 4605).
#pragma once

#include <oaidl.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/ComTypes.h"

namespace tamberlux {

struct NamedArg {
  const wchar_t* name;
  VARIANT value;
};

class LateObject {
 public:
  LateObject() = default;
  explicit LateObject(ComPtr<IDispatch> d);
  // Nothing for an empty variant or a null object; error 13 for anything else
  // that is not an object.
  static LateObject FromVariant(const VARIANT& v);

  explicit operator bool() const { return static_cast<bool>(d_); }
  IDispatch* Get() const { return d_.Get(); }
  bool SameAs(const LateObject& o) const;

  // Calls a method or reads a property; args in call order, passed as given
  // (a VT_BYREF argument lets the callee write back).
  Variant Call(const wchar_t* name, std::initializer_list<VARIANT> args = {},
               std::initializer_list<NamedArg> named = {}) const;
  Variant Get(const wchar_t* name) const { return Call(name); }
  LateObject Object(const wchar_t* name) const { return FromVariant(Call(name)); }
  void Put(const wchar_t* name, const VARIANT& value) const;

 private:
  Variant Invoke(WORD flags, const wchar_t* name, const VARIANT* args, size_t argCount,
                 const NamedArg* named, size_t namedCount) const;
  const std::vector<DISPID>& Ids(const wchar_t* name, const NamedArg* named, size_t namedCount) const;

  ComPtr<IDispatch> d_;
  // Shared by copies of the same reference, so a name is looked up once per object.
  std::shared_ptr<std::vector<std::pair<std::wstring, std::vector<DISPID>>>> cache_;
};

// The running object of a class, and a new one, both by ProgID; the mapped
// error when there is none.
LateObject ActiveObject(const wchar_t* progId);
LateObject NewObject(const wchar_t* progId, DWORD context = CLSCTX_SERVER);

// A by-reference argument pointing at a caller's variable.
inline VARIANT ByRef(LONG& v) { VARIANT a; a.vt = VT_BYREF | VT_I4; a.plVal = &v; return a; }
inline VARIANT ByRef(SHORT& v) { VARIANT a; a.vt = VT_BYREF | VT_I2; a.piVal = &v; return a; }
inline VARIANT ByRefBool(VARIANT_BOOL& v) { VARIANT a; a.vt = VT_BYREF | VT_BOOL; a.pboolVal = &v; return a; }
inline VARIANT ByRef(Bstr& v) { VARIANT a; a.vt = VT_BYREF | VT_BSTR; a.pbstrVal = v.Ref(); return a; }
inline VARIANT ByRef(VARIANT& v) { VARIANT a; a.vt = VT_BYREF | VT_VARIANT; a.pvarVal = &v; return a; }

// Conversions of a result, raising error 13 when the value does not convert.
std::wstring ToText(const VARIANT& v);
int32_t ToLong(const VARIANT& v);
bool ToBool(const VARIANT& v);

}  // namespace tamberlux
