// Run-time errors as a Visual Basic caller sees them: a number and a text.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace tamberlux::vb {

// The run-time error numbers the component raises or maps to.
enum ErrorNumber : int32_t {
  kInvalidCall = 5,
  kOverflow = 6,
  kOutOfMemory = 7,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kBadFileName = 52,
  kFileNotFound = 53,
  kPathFileAccessError = 75,
  kObjectVariableNotSet = 91,
  kCannotCreateObject = 429,
  // An out-of-process object (Word) whose process has gone.
  kRemoteServerUnavailable = 462,
  kNoSuchMember = 438,
  kArgumentNotOptional = 449,
  kWrongArgumentCount = 450,
  // Word's own: the command is not available (Word is busy or in a state
  // that refuses it); a launch then tries a new Word.
  kWordCommandNotAvailable = 4605,
  kWordCannotBeNothing = 12345,
};

// What a failing statement throws; the error tail catches it.
struct Error {
  int32_t number;
  std::wstring description;
};

[[noreturn]] void Raise(int32_t number, std::wstring description = {});

// The number a Visual Basic caller sees for a failed COM call: an automation
// error 0x800Axxxx becomes xxxx, the dispatch failures become their run-time
// errors, any other HRESULT is the number itself.
int32_t NumberFromHResult(HRESULT hr);

// Raises the mapped error when hr is a failure.
void Check(HRESULT hr, const wchar_t* what = nullptr);

// The standard text of a run-time error number ("Overflow", …), or a generic one.
std::wstring Description(int32_t number);

// Turns the exception in flight into the error a caller sees. Must be called
// inside a catch block.
Error CurrentError();

// The HRESULT a COM caller gets for an error: a run-time error number n as
// the automation error 0x800An, an HRESULT number as itself. Check() is the
// way back.
HRESULT HResultOf(const Error& e);

// The barrier at every COM boundary: nothing thrown inside reaches the
// caller's process; it arrives as the HRESULT of its error.
template <class F>
HRESULT Barrier(F&& f) noexcept {
  try {
    f();
    return S_OK;
  } catch (...) {
    try {
      return HResultOf(CurrentError());
    } catch (...) {
      return E_UNEXPECTED;
    }
  }
}

}  // namespace tamberlux::vb
