#include "base/VbError.h"

#include <new>

namespace tamberlux::vb {

void Raise(int32_t number, std::wstring description) {
  if (description.empty()) description = Description(number);
  throw Error{number, std::move(description)};
}

int32_t NumberFromHResult(HRESULT hr) {
  const auto u = static_cast<uint32_t>(hr);
  if ((u & 0xFFFF0000u) == 0x800A0000u) return static_cast<int32_t>(u & 0xFFFFu);
  switch (hr) {
    case DISP_E_MEMBERNOTFOUND:
    case DISP_E_UNKNOWNNAME:
      return kNoSuchMember;
    case DISP_E_TYPEMISMATCH:
      return kTypeMismatch;
    case DISP_E_OVERFLOW:
      return kOverflow;
    case DISP_E_BADPARAMCOUNT:
      return kWrongArgumentCount;
    case DISP_E_PARAMNOTOPTIONAL:
      return kArgumentNotOptional;
    case DISP_E_BADINDEX:
      return kSubscriptOutOfRange;
    case E_OUTOFMEMORY:
      return kOutOfMemory;
    case REGDB_E_CLASSNOTREG:
    case CO_E_CLASSSTRING:
      return kCannotCreateObject;
    default:
      return static_cast<int32_t>(hr);
  }
}

void Check(HRESULT hr, const wchar_t* what) {
  if (SUCCEEDED(hr)) return;
  const int32_t n = NumberFromHResult(hr);
  std::wstring text = Description(n);
  if (what) text = std::wstring(what) + L": " + text;
  throw Error{n, std::move(text)};
}

std::wstring Description(int32_t number) {
  switch (number) {
    case kInvalidCall: return L"Invalid procedure call or argument";
    case kOverflow: return L"Overflow";
    case kOutOfMemory: return L"Out of memory";
    case kSubscriptOutOfRange: return L"Subscript out of range";
    case kTypeMismatch: return L"Type mismatch";
    case kBadFileName: return L"Bad file name or number";
    case kFileNotFound: return L"File not found";
    case kPathFileAccessError: return L"Path/File access error";
    case kWordCommandNotAvailable: return L"This command is not available.";
    case kObjectVariableNotSet: return L"Object variable or With block variable not set";
    case kCannotCreateObject: return L"ActiveX component can't create object";
    case kNoSuchMember: return L"Object doesn't support this property or method";
    case kArgumentNotOptional: return L"Argument not optional";
    case kWrongArgumentCount: return L"Wrong number of arguments or invalid property assignment";
    default: return L"Automation error";
  }
}

HRESULT HResultOf(const Error& e) {
  if (e.number == kOutOfMemory) return E_OUTOFMEMORY;
  return e.number > 0 && e.number < 0x10000 ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, e.number)
                                             : static_cast<HRESULT>(e.number);
}

Error CurrentError() {
  try {
    throw;
  } catch (const Error& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return {kOutOfMemory, Description(kOutOfMemory)};
  } catch (...) {
    return {kInvalidCall, Description(kInvalidCall)};
  }
}

}  // namespace tamberlux::vb

// The C++ library reports a failed bounds, length or conversion check (a
// container's at(), a string's substr(), std::stoi) through these functions.
// Here they raise the run-time error a caller sees, so that the standard
// exception classes, and the copy-on-write strings that carry their texts,
// are linked into no program: a tenth of the component's DLL. They are all of
// the library's functions of that kind, so that its own are never linked
// beside them.
namespace std {
using tamberlux::vb::Raise;
void __throw_out_of_range(const char*) { Raise(tamberlux::vb::kSubscriptOutOfRange); }
void __throw_out_of_range_fmt(const char*, ...) { Raise(tamberlux::vb::kSubscriptOutOfRange); }
void __throw_overflow_error(const char*) { Raise(tamberlux::vb::kOverflow); }
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_alloc(); }
void __throw_length_error(const char*) { Raise(tamberlux::vb::kInvalidCall); }
void __throw_logic_error(const char*) { Raise(tamberlux::vb::kInvalidCall); }
void __throw_domain_error(const char*) { Raise(tamberlux::vb::kInvalidCall); }
void __throw_invalid_argument(const char*) { Raise(tamberlux::vb::kInvalidCall); }
void __throw_runtime_error(const char*) { Raise(tamberlux::vb::kInvalidCall); }
void __throw_range_error(const char*) { Raise(tamberlux::vb::kInvalidCall); }
void __throw_underflow_error(const char*) { Raise(tamberlux::vb::kInvalidCall); }
void __throw_bad_cast() { Raise(tamberlux::vb::kInvalidCall); }
void __throw_bad_typeid() { Raise(tamberlux::vb::kInvalidCall); }
void __throw_bad_exception() { Raise(tamberlux::vb::kInvalidCall); }
}  // namespace std
