// tamberlux install-deps NAME [--deps A.dll,B.dll] [--xp-deps C.dll]: the
// dependency installer for real, as the product's installer runs it: checks,
// downloads, quiet installs and the user's messages. For support staff.
#include <windows.h>

#include <string>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "base/LateBound.h"
#include "component/Main2.h"
#include "support/CommonWordInteractionFunctions.h"

namespace tamberlux {

using namespace console;

int InstallDepsCommand(const std::wstring& name, std::vector<std::wstring> deps, std::vector<std::wstring> xpDeps) {
  // The notice is shown through the running Word, as at installation; with
  // no Word it is printed here, since the user asked for the downloads.
  Main2 m;
  try {
    CommonWordInteractionFunctions::Initialize(ActiveObject(L"Word.Application"));
  } catch (...) {
    Print(L"tamberlux: Word is not running; the download notice is given here\n", stderr);
    m.mDownloadNotice = [](const std::wstring& text, const std::wstring& title) {
      Print(title + L":\n" + text + L"\n", stderr);
      return true;
    };
  }
  std::wstring product = name;
  const bool ok = m.EnsureDependenciesAreRegistered(product, deps, xpDeps);
  Print(ok ? L"every library and program DLL is in place\n" : L"something is still missing (see the message shown)\n");
  return ok ? kDone : kFailed;
}

}  // namespace tamberlux
