// tamberlux: the component from a console.
//
//   tamberlux launch NAME [--no-macro]   starts Word with the add-in, as the desktop icon does,
//                                        through COM like the product's launcher
//   tamberlux status NAME [--json]       what decides whether the add-in loads, read with the
//                                        component's own registry and detection code; changes nothing
//   tamberlux check NAME [--json] [--deps A.dll,B.dll] [--xp-deps C.dll]
//                                        each library group and program DLL as present, registrable
//                                        or missing; downloads nothing (exit 5 when something is missing)
//   tamberlux install-deps NAME [--deps …] [--xp-deps …]
//                                        the dependency installer for real (exit 5 when it gave up)
//   tamberlux install NAME [--deps …] [--xp-deps …]
//                                        what the product's installer does: starts Word, hooks the add-in
//                                        into it through COM and reports how (exit 5 when it did not complete)
//   tamberlux enable NAME [--json]       takes the add-in off Word's disabled lists and clears the
//                                        permanent-disable flag, without a dialog
//   tamberlux log [--json]               the error log written when the error reporter could not be had
//   tamberlux repair NAME [--data] [--json]  the add-ins registered and taken off Word's lists, the
//                                        permanent-disable flag cleared; --data: Word's Data key
//                                        backed up and deleted
//   tamberlux restore FILE [--json]      a backup of the repair put back
//
// Exit codes: 0 done, 2 usage, 3 the component is not registered, 4 Word could not be
// reached, 5 the call failed.
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "Console.h"
#include "TamberluxVersion.h"
#include "errortrap/vbwProtector.h"
#include "support/CommonWordInteractionFunctions.h"

namespace tamberlux {
namespace {

using namespace console;

int Usage() {
  Print(L"usage: tamberlux launch NAME [--no-macro]\n       tamberlux status NAME [--json]\n"
        L"       tamberlux check NAME [--json] [--deps A.dll,B.dll] [--xp-deps C.dll]\n"
        L"       tamberlux install-deps NAME [--deps A.dll,B.dll] [--xp-deps C.dll]\n"
        L"       tamberlux install NAME [--deps A.dll,B.dll] [--xp-deps C.dll]\n"
        L"       tamberlux enable NAME [--json]\n"
        L"       tamberlux log [--json]\n       tamberlux repair NAME [--data] [--json]\n"
        L"       tamberlux restore FILE [--json]\n       tamberlux --version\n",
        stderr);
  return kUsage;
}

// "A.dll,B.dll" as a list; the empty text is the empty list.
std::vector<std::wstring> DllList(const std::wstring& text) {
  std::vector<std::wstring> list;
  for (size_t start = 0; start < text.size();) {
    const size_t comma = std::min(text.find(L',', start), text.size());
    if (comma > start) list.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return list;
}

// The flags, and which of them take the next argument as their value.
enum Flag { kJson, kNoMacro, kData, kDeps, kXpDeps, kFlags };
constexpr struct {
  const wchar_t* name;
  bool takesValue;
} kFlagSyntax[kFlags] = {{L"--json", false}, {L"--no-macro", false}, {L"--data", false}, {L"--deps", true},
                         {L"--xp-deps", true}};
constexpr unsigned Bit(Flag f) { return 1u << f; }

// Each command that takes a NAME (or FILE), with the flags it accepts.
constexpr struct {
  const wchar_t* command;
  unsigned flags;
} kCommands[] = {{L"launch", Bit(kNoMacro)},
                 {L"status", Bit(kJson)},
                 {L"check", Bit(kJson) | Bit(kDeps) | Bit(kXpDeps)},
                 {L"install-deps", Bit(kDeps) | Bit(kXpDeps)},
                 {L"install", Bit(kDeps) | Bit(kXpDeps)},
                 {L"enable", Bit(kJson)},
                 {L"repair", Bit(kData) | Bit(kJson)},
                 {L"restore", Bit(kJson)}};

struct Arguments {
  std::wstring command, name;
  bool given[kFlags] = {};
  std::wstring value[kFlags];
};

// The command line read against the tables: false for a command or flag not
// known, a flag given twice or to a command that does not take it, a value
// missing (the end, a flag or an empty argument where it belongs), or a NAME
// that is empty or looks like a flag.
bool Parse(int argc, wchar_t** argv, Arguments& a) {
  if (argc < 3) return false;
  a.command = argv[1], a.name = argv[2];
  const auto syntax = std::find_if(std::begin(kCommands), std::end(kCommands),
                                   [&](const auto& c) { return a.command == c.command; });
  if (syntax == std::end(kCommands) || a.name.empty() || a.name[0] == L'-') return false;
  for (int i = 3; i < argc; ++i) {
    int f = 0;
    while (f < kFlags && std::wstring_view(argv[i]) != kFlagSyntax[f].name) ++f;
    if (f == kFlags || !(syntax->flags & Bit(static_cast<Flag>(f))) || a.given[f]) return false;
    a.given[f] = true;
    if (!kFlagSyntax[f].takesValue) continue;
    if (i + 1 >= argc || argv[i + 1][0] == L'\0' || argv[i + 1][0] == L'-') return false;
    a.value[f] = argv[++i];
  }
  return true;
}

}  // namespace

int Run(int argc, wchar_t** argv) {
  if (argc == 2 && std::wstring(argv[1]) == L"--version") {
    Print(L"tamberlux " L"" TAMBERLUX_VERSION_TEXT L"\n");
    return kDone;
  }
  if (argc >= 2 && std::wstring(argv[1]) == L"log") {
    if (argc > 3 || (argc == 3 && std::wstring(argv[2]) != L"--json")) return Usage();
    return LogCommand(argc == 3);
  }
  Arguments args;
  if (!Parse(argc, argv, args)) return Usage();
  const std::wstring &command = args.command, &name = args.name;
  const bool json = args.given[kJson], noMacro = args.given[kNoMacro], data = args.given[kData];
  const std::vector<std::wstring> deps = DllList(args.value[kDeps]), xpDeps = DllList(args.value[kXpDeps]);
  const bool dependencies = command == L"check" || command == L"install-deps" || command == L"install";
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int code = kUsage;
  if (command == L"launch") {
    code = LaunchCommand(name, !noMacro);
  } else if (command == L"status") {
    vbw::vbwInitializeProtector();
    code = StatusCommand(name, json);
  } else if (command == L"install") {
    vbw::vbwInitializeProtector();
    code = InstallCommand(name, deps, xpDeps);
  } else if (dependencies) {
    vbw::vbwInitializeProtector();
    code = command == L"check" ? CheckCommand(name, json, deps, xpDeps) : InstallDepsCommand(name, deps, xpDeps);
  } else if (command == L"enable") {
    vbw::vbwInitializeProtector();
    code = EnableCommand(name, json);
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
