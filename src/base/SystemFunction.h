// Windows' own libraries, late-bound: loaded from the system folder, never by a
// bare name (which the search order could answer with another file of that
// name), and kept loaded.
#pragma once

#include <windows.h>

#include <string>

namespace tamberlux {

// The library, or null when this Windows has none of that name.
inline HMODULE SystemLibrary(const wchar_t* library) {
  wchar_t folder[MAX_PATH];
  const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
  return n && n < MAX_PATH ? LoadLibraryW((std::wstring(folder, n) + L"\\" + library).c_str()) : nullptr;
}

// A function of the library, or null when this Windows has no such library or function.
template <class F>
F SystemFunction(const wchar_t* library, const char* name) {
  const HMODULE module = SystemLibrary(library);
  return module ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

}  // namespace tamberlux
