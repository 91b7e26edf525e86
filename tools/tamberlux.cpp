// tamberlux: the component from a console.
//
//   tamberlux launch NAME [--no-macro]   starts Word with the add-in, as the desktop icon does,
//                                        through COM like the product's launcher
//   tamberlux status NAME [--json]       what decides whether the add-in loads, read with the
//                                        component's own registry and detection code; changes nothing
//   tamberlux log [--json]               the error log written when the error reporter could not be had
//   tamberlux repair NAME [--data] [--json]  the add-ins registered and taken off Word's lists, the
//                                        permanent-disable flag cleared; --data: Word's Data key
//                                        backed up and deleted
//   tamberlux restore FILE [--json]      a backup of the repair put back
//
// Exit codes: 0 done, 2 usage, 3 the component is not registered, 4 Word could not be
// reached, 5 the call failed.
#include <windows.h>

#include <string>

#include "Commands.h"
#include "Console.h"
#include "errortrap/vbwProtector.h"
#include "support/CommonWordInteractionFunctions.h"

namespace tamberlux {
namespace {

using namespace console;

int Usage() {
  Print(L"usage: tamberlux launch NAME [--no-macro]\n       tamberlux status NAME [--json]\n"
        L"       tamberlux log [--json]\n       tamberlux repair NAME [--data] [--json]\n"
        L"       tamberlux restore FILE [--json]\n",
        stderr);
  return kUsage;
}

}  // namespace

int Run(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wstring(argv[1]) == L"log") {
    if (argc > 3 || (argc == 3 && std::wstring(argv[2]) != L"--json")) return Usage();
    return LogCommand(argc == 3);
  }
  if (argc < 3 || argv[2][0] == L'\0' || argv[2][0] == L'-') return Usage();
  const std::wstring command = argv[1], name = argv[2];
  bool json = false, noMacro = false, data = false;
  for (int i = 3; i < argc; ++i) {
    const std::wstring option = argv[i];
    if (command != L"launch" && option == L"--json") json = true;
    else if (command == L"launch" && option == L"--no-macro") noMacro = true;
    else if (command == L"repair" && option == L"--data") data = true;
    else return Usage();
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int code = kUsage;
  if (command == L"launch") {
    code = LaunchCommand(name, !noMacro);
  } else if (command == L"status") {
    vbw::vbwInitializeProtector();
    code = StatusCommand(name, json);
  } else if (command == L"repair") {
    vbw::vbwInitializeProtector();
    code = RepairCommand(name, data, json);
  } else if (command == L"restore") {
    code = RestoreCommand(name, json);
  } else {
    code = Usage();
  }
  CommonWordInteractionFunctions::Terminate();
  CoUninitialize();
  return code;
}

}  // namespace tamberlux

int wmain(int argc, wchar_t** argv) { return tamberlux::Run(argc, argv); }
