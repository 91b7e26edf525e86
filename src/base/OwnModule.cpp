#include "base/OwnModule.h"

namespace tamberlux {

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&OwnModule), &module);
  return module;
}

std::wstring OwnModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(OwnModule(), path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) return path.substr(0, n);
    path.resize(path.size() * 2);  // cut short: the path is longer than the buffer
  }
}

std::wstring OwnModuleFolder() {
  std::wstring path = OwnModulePath();
  return path.erase(path.find_last_of(L"\\/") + 1);
}

}  // namespace tamberlux
