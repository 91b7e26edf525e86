// Lets a COM server DLL register itself.
#pragma once

#include <string>

namespace tamberlux::ObjectFactory {

// Loads the DLL (its own folder searched for its dependencies), calls its
// DllRegisterServer and frees it again. True when the entry point was found
// and called without a run-time error; its own return code is not examined.
// Never reports: a DLL that cannot be loaded or registered gives false.
bool RegisterServer(const std::wstring& path);
// Whether RegisterServer would find an entry point, asked without running
// anything of the DLL (no DllMain, no dependencies loaded).
bool CanRegister(const std::wstring& path);

}  // namespace tamberlux::ObjectFactory
