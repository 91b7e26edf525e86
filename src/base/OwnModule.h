// The module this code is linked into (Tamberlux.dll, or the program that links
// the layers) and its file: looked up in one place.
#pragma once

#include <windows.h>

#include <string>

namespace tamberlux {

HMODULE OwnModule();
// The module's full path, however long.
std::wstring OwnModulePath();
// Its folder, with the final backslash.
std::wstring OwnModuleFolder();

}  // namespace tamberlux
