// tamberlux launch NAME [--no-macro]: starts Word with the add-in, as the
// desktop icon does, through COM like the product's launcher.
#include <windows.h>
#include <oaidl.h>

#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "base/LateBound.h"
#include "base/VbError.h"
#include "registry/WordKeys.h"

namespace tamberlux {

using namespace console;

int LaunchCommand(const std::wstring& name, bool startMacro) {
  // The component refuses such a name through its error trap; say so here first.
  if (const std::wstring problem = WordKeys::ProductNameProblem(name); !problem.empty())
    return RefuseName(name, problem);
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"Tamberlux.Main2", &clsid)))
    return Fail(kNotRegistered, L"Tamberlux.Main2 is not registered: run regsvr32 on Tamberlux.dll first");
  LateObject main2;
  try {
    main2 = NewObject(L"Tamberlux.Main2", CLSCTX_INPROC_SERVER);
  } catch (const vb::Error& e) {
    return Fail(kNotRegistered, L"Tamberlux.Main2 could not be created (" + Hex(vb::HResultOf(e)) + L")");
  }

  // The launcher's own variable for Word: Nothing, filled in by the launch.
  Variant word;
  word.vt = VT_DISPATCH;
  word.pdispVal = nullptr;
  Bstr text;
  *text.Put() = SysAllocString(name.c_str());
  VARIANT_BOOL macro = startMacro ? VARIANT_TRUE : VARIANT_FALSE;
  try {
    main2.Call(L"StartRunTime", {ByRef(text), ByRef(word), ByRefBool(macro)});
  } catch (const vb::Error& e) {
    // The component refuses what it cannot use (error 5) with its reason.
    if (e.number == vb::kInvalidCall) return Fail(kUsage, L"the component refused the launch: " + Shown(e.description));
    return Fail(kFailed, L"StartRunTime failed: " + Shown(e.description) + L" (" + std::to_wstring(e.number) + L")");
  }
  const LateObject started = LateObject::FromVariant(word);
  if (!started) return Fail(kNoWord, L"the launch did not reach Word");
  try {
    const std::wstring version = ToText(started.Get(L"Version"));
    const int32_t documents = ToLong(started.Object(L"Documents").Get(L"Count"));
    Print(L"Word " + version + L" is running with " + std::to_wstring(documents) +
          (documents == 1 ? L" document" : L" documents") + L" open; " + name + L" launched.\n");
  } catch (const vb::Error& e) {
    return Fail(kNoWord, L"Word stopped answering after the launch: " + e.description);
  }
  return kDone;
}

}  // namespace tamberlux
