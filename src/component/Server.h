// What the DLL's objects share with the server around them: its lifetime
// count and its embedded type library.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

namespace tamberlux {

// Objects alive plus server locks; DllCanUnloadNow answers from it.
void DllAddRef();
void DllRelease();

// The type library embedded in this DLL, the one description of _Main2.
HRESULT LoadOwnTypeLib(REGKIND kind, ITypeLib** out);
HRESULT OwnTypeInfo(REFIID iid, ITypeInfo** out);

}  // namespace tamberlux
