// The dependency installer: the infrastructure groups and the product's own
// DLLs checked, a DLL let register itself, a missing group's installer
// downloaded, run quietly and waited for, and the user warned about whatever
// stays missing.
// Step numbers in this file start at 60000.
#include <cmath>
#include <cwchar>
#include <limits>

#include "base/ComTypes.h"
#include "component/Main2.h"
#include "errortrap/Procedure.h"
#include "installer/DependencyPlan.h"
#include "installer/HTTP.h"
#include "installer/InfraGroups.h"
#include "installer/InstallerSettings.h"
#include "installer/ObjectFactory.h"
#include "registry/RegistryFunctions.h"
#include "registry/WordKeys.h"
#include "support/CommonLogger.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/GetSpecialFolder.h"
#include "support/UtilityFunctions.h"
#include "support/WindowsVersion.h"

namespace tamberlux {

// A list of values as a trace or a dump shows it: an array of variants.
Variant ValueOf(const std::vector<Variant>& v) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(v.size()), 0};
  Variant out;
  out.vt = VT_ARRAY | VT_VARIANT;
  out.parray = SafeArrayCreate(VT_VARIANT, 1, &bound);
  for (LONG i = 0; out.parray && i < static_cast<LONG>(v.size()); ++i)
    SafeArrayPutElement(out.parray, &i, const_cast<Variant*>(&v[i]));
  return out;
}

using vbw::Var;
namespace reg = RegistryFunctions;

namespace {
constexpr int32_t kNormalFocus = 1;

// Loop bounds are 16-bit, as the lists' indices are.
int16_t UpperBound(const std::vector<std::wstring>& list) {
  if (list.size() > static_cast<size_t>(std::numeric_limits<int16_t>::max())) vb::Raise(vb::kOverflow);
  return static_cast<int16_t>(static_cast<int>(list.size()) - 1);
}

const std::wstring& At(const std::vector<std::wstring>& list, int16_t i) {
  if (i < 0 || static_cast<size_t>(i) >= list.size()) vb::Raise(vb::kSubscriptOutOfRange);
  return list[static_cast<size_t>(i)];
}

// Text that Visual Basic would call numeric: a number, blanks around it allowed.
bool Numeric(const std::wstring& text, double& value) {
  const wchar_t* start = text.c_str();
  wchar_t* end = nullptr;
  value = std::wcstod(start, &end);
  if (end == start) return false;
  while (*end == L' ') ++end;
  return *end == L'\0';
}
}  // namespace

bool Main2::CheckRegistration(const std::wstring& folderPath, const std::vector<std::wstring>& fileNames,
                              const std::vector<std::wstring>& progIds, bool testVBScript) {
  bool result = false;
  vbw::Proc p(L"Main2.CheckRegistration", ReportModuleVariables,
              {Var(L"folderPath", folderPath), Var(L"fileNames", fileNames), Var(L"progIds", progIds),
               Var(L"testVBScript", testVBScript)},
              this);
  LateObject temp;
  p.Local(L"temp", temp);
  p.Run([&] {
    int16_t last = -1;
    p(60101, [&] { last = UpperBound(fileNames); });
    for (int16_t i = 0; i <= last; ++i) {
      std::wstring path;
      bool present = false;
      p(60102, [&] { path = folderPath + At(fileNames, i); });
      p(60103, [&] { present = fileExists(path); });
      if (!present) return;
      p(60104, [&] { present = Createable(path, At(progIds, i)); });
      if (!present) return;
    }
    // From here on failures are only counted: the caller reports.
    p.ResumeNext();
    if (testVBScript && p.Try(60105, [&] { temp = NewObject(L"VBScript.RegExp"); }) != 0) return;
    result = true;
  });
  return result;
}

bool Main2::Createable(const std::wstring& path, const std::wstring& progId) {
  bool result = false;
  vbw::Proc p(L"Main2.Createable", ReportModuleVariables, {Var(L"path", path), Var(L"progId", progId)}, this);
  p.Run([&] {
    p(60201, [&] { result = IsProgIDRegistered(progId); });
    if (result) return;
    bool registered = false;
    p(60202, [&] { registered = ObjectFactory::RegisterServer(path); });
    if (!registered) return;
    p(60203, [&] { result = IsProgIDRegistered(progId); });
  });
  return result;
}

bool Main2::fileExists(const std::wstring& path) {
  bool result = false;
  vbw::Proc p(L"Main2.fileExists", ReportModuleVariables, {Var(L"path", path)}, this);
  p.Run([&] {
    p(60301, [&] {
      // A directory search with normal attributes: wildcards match, folders,
      // hidden and system files do not. A plain path needs no search.
      const DWORD skip = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
      if (path.find_first_of(L"*?") == std::wstring::npos) {
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
          const DWORD error = GetLastError();
          if (error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME)
            vb::Raise(vb::kBadFileName);
        }
        result = attributes != INVALID_FILE_ATTRIBUTES && (attributes & skip) == 0;
        return;
      }
      WIN32_FIND_DATAW found;
      FindHandle search(FindFirstFileW(path.c_str(), &found));
      if (!search) {
        const DWORD error = GetLastError();
        if (error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME)
          vb::Raise(vb::kBadFileName);
        return;
      }
      do {
        if ((found.dwFileAttributes & skip) == 0 && found.cFileName[0]) result = true;
      } while (!result && FindNextFileW(search.Get(), &found));
    });
  });
  return result;
}

bool Main2::IsProgIDRegistered(std::wstring strProgID) {
  bool result = false;
  vbw::Proc p(L"Main2.IsProgIDRegistered", ReportModuleVariables, {Var(L"strProgID", strProgID)}, this);
  p.Run([&] {
    p(60401, [&] {
      CLSID clsid;
      result = CLSIDFromProgID(strProgID.c_str(), &clsid) == S_OK;
    });
  });
  return result;
}

void Main2::StringArray(std::vector<std::wstring>& words, const std::vector<Variant>& elements) {
  vbw::Proc p(L"Main2.StringArray", ReportModuleVariables, {Var(L"words", words), Var(L"elements", elements)}, this);
  p.Run([&] {
    p(60501, [&] { words.assign(elements.size(), std::wstring()); });
    for (size_t i = 0; i < elements.size(); ++i) p(60502, [&] { words[i] = ToText(elements[i]); });
  });
}

std::wstring Main2::GetFileFromProgID(std::wstring progId) {
  std::wstring result;
  vbw::Proc p(L"Main2.GetFileFromProgID", ReportModuleVariables, {Var(L"progId", progId)}, this);
  p.Run([&] {
    std::wstring clsid, file;
    p(60601, [&] { clsid = reg::ReadRegistryString(HKEY_CLASSES_ROOT, progId + L"\\CLSID", L""); });
    if (clsid.empty()) {
      p(60602, [&] { vb::Raise(vb::kWordCannotBeNothing, L"Could not read CLSID"); });
      return;
    }
    p(60603, [&] { file = reg::ReadRegistryString(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\InProcServer32", L""); });
    if (file.empty())
      p(60604, [&] { file = reg::ReadRegistryString(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\LocalServer32", L""); });
    if (file.empty()) p(60605, [&] { vb::Raise(vb::kWordCannotBeNothing, L"Could not GetFileFromProgID"); });
    result = file;
  });
  return result;
}

bool Main2::EnsureDependenciesAreRegistered(std::wstring& name, std::vector<std::wstring>& dependencies,
                                            std::vector<std::wstring>& dependenciesXPOrLater) {
  bool result = false;
  vbw::Proc p(L"Main2.EnsureDependenciesAreRegistered", ReportModuleVariables,
              {Var(L"name", name), Var(L"dependencies", dependencies),
               Var(L"dependenciesXPOrLater", dependenciesXPOrLater)},
              this);
  std::wstring systemFolderPath;
  p.Local(L"systemFolderPath", systemFolderPath);
  p.Run([&] {
    p(60701, [&] { CommonLogger::Log(L"EnsureDependenciesAreRegistered", 0, false, -1); });
    p(60702, [&] {
      int32_t csidl = DependencyPlan::kCsidlSystem;
      systemFolderPath = GetSpecialFolder::fGetSpecialFolder(csidl);
    });
    for (const auto& group : InfraGroups::All()) {
      bool installed = false;
      p(60703, [&] { installed = EnsureInfraIsInstalled(group.library, name, systemFolderPath); });
      if (!installed) return;
    }
    p(60704, [&] { result = EnsureProgramDllsAreRegistered(name, dependencies, dependenciesXPOrLater); });
  });
  return result;
}

bool Main2::EnsureInfraIsInstalled(const std::wstring& library, const std::wstring& name,
                                   const std::wstring& systemFolderPath) {
  bool result = false;
  vbw::Proc p(L"Main2.EnsureInfraIsInstalled", ReportModuleVariables,
              {Var(L"library", library), Var(L"name", name), Var(L"systemFolderPath", systemFolderPath)}, this);
  std::vector<std::wstring> fileNames, progIds;
  bool testVBScript = false;
  std::wstring url;
  p.Local(L"fileNames", fileNames);
  p.Local(L"progIds", progIds);
  p.Local(L"testVBScript", testVBScript);
  p.Local(L"url", url);
  p.Run([&] {
    const InfraGroups::Group* group = nullptr;
    for (const auto& g : InfraGroups::All())
      if (library == g.library) group = &g;
    if (group) {
      const auto values = [](const std::vector<const wchar_t*>& texts) {
        std::vector<Variant> v;
        for (const wchar_t* t : texts) v.push_back(Variant::Of(t));
        return v;
      };
      if (group == &InfraGroups::All().front()) {
        p(60801, [&] { StringArray(fileNames, values(group->fileNames)); });
        p(60802, [&] { StringArray(progIds, values(group->progIds)); });
      } else {
        p(60803, [&] {
          fileNames.assign(group->fileNames.begin(), group->fileNames.end());
          progIds.assign(group->progIds.begin(), group->progIds.end());
          testVBScript = group->testVBScript;
        });
      }
    }
    bool present = false;
    p(60804, [&] { present = CheckRegistration(systemFolderPath, fileNames, progIds, testVBScript); });
    if (present) {
      result = true;
      return;
    }
    // Any label but the first three is the scripting runtime's.
    DependencyPlan::Missing missing;
    {
      // Each fact about Windows the plan asks for is a step of its own.
      DependencyPlan::WindowsFacts windows;
      windows.vistaOrHigher = [&] {
        bool vista = false;
        p(60805, [&] { vista = WindowsVersion::IsWindowsVistaOrHigher(); });
        return vista;
      };
      windows.nineXOrMe = [&] {
        bool nineX = false;
        p(60806, [&] { nineX = WindowsVersion::IsWindows98OrMe(); });
        return nineX;
      };
      missing = DependencyPlan::ForMissingGroup(group ? *group : DependencyPlan::GroupOf(library), windows);
    }
    if (!missing.needed) {
      result = true;
      return;
    }
    p(60807, [&] { url = DownloadServer::Address() + missing.installerPath; });
    bool installed = false, uac = true;
    p(60808, [&] { installed = DownloadAndInstallLibrary(name, url); });
    if (installed) p(60809, [&] { uac = UACEnabled(); });
    if (installed && !uac) {
      p(60810, [&] { result = CheckRegistration(systemFolderPath, fileNames, progIds, testVBScript); });
      if (result) return;
    }
    p(60811, [&] { WarnUserOfCrash(name, library, url, testVBScript); });
  });
  return result;
}

bool Main2::EnsureProgramDllsAreRegistered(const std::wstring& productName, const std::vector<std::wstring>& fileNames,
                                           const std::vector<std::wstring>& fileNamesXPOrLater) {
  bool result = false;
  vbw::Proc p(L"Main2.EnsureProgramDllsAreRegistered", ReportModuleVariables,
              {Var(L"productName", productName), Var(L"fileNames", fileNames),
               Var(L"fileNamesXPOrLater", fileNamesXPOrLater)},
              this);
  std::wstring folderPath;
  std::vector<std::wstring> progIds;
  int16_t i = 0;
  p.Local(L"folderPath", folderPath);
  p.Local(L"progIds", progIds);
  p.Local(L"i", i);
  p.Run([&] {
    p(60901, [&] { folderPath = UtilityFunctions::SRC_PATH(productName); });
    std::wstring failing;
    // Whether a DLL of the list is missing or cannot be registered (then
    // named in `failing`); the XP list's steps have numbers of their own.
    const auto firstMissing = [&](const std::vector<std::wstring>& list, bool xpList) {
      int16_t last = -1;
      p(xpList ? 60905 : 60902, [&] { last = UpperBound(list); });
      for (i = 0; i <= last; ++i) {
        bool present = false;
        p(xpList ? 60906 : 60903, [&] {
          const std::wstring& file = At(list, i);
          const std::wstring path = folderPath + file;
          present = fileExists(path) && Createable(path, InfraGroups::ProgIdOfProgramDll(file));
          if (!present) failing = file;
        });
        if (!present) return true;
      }
      return false;
    };
    bool xp = false;
    if (!firstMissing(fileNames, false)) {
      p(60904, [&] { xp = DependencyPlan::XpListNeeded(DependencyPlan::CurrentWindows()); });
      if (!xp || !firstMissing(fileNamesXPOrLater, true)) {
        result = true;
        return;
      }
    }
    p(60907, [&] {
      WarnUserOfCrash(productName, failing, DownloadServer::Address() + InfraGroups::kProductInstallerPath, false);
    });
  });
  return result;
}

bool Main2::UACEnabled() {
  bool result = false;
  vbw::Proc p(L"Main2.UACEnabled[Get]", ReportModuleVariables, {}, this);
  p.Run([&] {
    std::wstring text;
    p(61001, [&] { text = reg::ReadRegistry(HKEY_LOCAL_MACHINE, WordKeys::kUacPolicyKey, WordKeys::kEnableLUA); });
    double value = 0;
    if (text.empty() || !Numeric(text, value)) return;
    p(61002, [&] {
      const double rounded = std::nearbyint(value);
      if (rounded < std::numeric_limits<int16_t>::min() || rounded > std::numeric_limits<int16_t>::max()) vb::Raise(vb::kOverflow);
      result = rounded == 1;
    });
  });
  return result;
}

bool Main2::DownloadAndInstallLibrary(const std::wstring& name, const std::wstring& url) {
  bool result = false;
  vbw::Proc p(L"Main2.DownloadAndInstallLibrary", ReportModuleVariables, {Var(L"name", name), Var(L"url", url)},
              this);
  p.Run([&] {
    // A machine-wide setting that is refused stops the download before the
    // notice: the default never stands in for it.
    if (!p.Completed(61105, [&] { InstallerSettings::RequireAccepted(InstallerSettings::Read()); })) return;
    bool uac = true;
    p(61101, [&] { uac = UACEnabled(); });
    if (!uac) {
      const std::wstring text = name + L" needs to download and install some core library files to work.\r\n"
                                       L"If Windows asks you to reboot, click 'No'.",
                         title = name + L" needs to install core library files";
      bool shown = false;
      p(61102, [&] {
        shown = mDownloadNotice ? mDownloadNotice(text, title)
                                : CommonWordInteractionFunctions::GuaranteedVisibleMsgBox(text, title);
      });
      // Nothing downloaded runs without its notice.
      if (!p.Completed(61106, [&] {
            if (!shown)
              vb::Raise(vb::kInvalidCall, L"The notice \"" + title + L"\" could not be shown; nothing is downloaded");
          }))
        return;
    }
    std::wstring path;
    p(61103, [&] {
      HTTP http;
      std::wstring address = url;
      path = http.DownloadFile(address, name);
    });
    p(61104, [&] { result = ShellAndWait(DependencyPlan::CommandLine(path), kNormalFocus); });
  });
  return result;
}

bool Main2::ShellAndWait(std::wstring program_name, int32_t window_style) {
  bool result = false;
  vbw::Proc p(L"Main2.ShellAndWait", ReportModuleVariables,
              {Var(L"program_name", program_name), Var(L"window_style", window_style)}, this);
  int32_t process_id = 0;
  double process_handle = 0;
  p.Local(L"process_id", process_id);
  p.Local(L"process_handle", process_handle);
  p.Run([&] {
    p.ResumeNext();
    DWORD waitMs = WordKeys::kDefaultInstallerWaitSeconds * 1000;
    p.Try(61201, [&] {
      // A refused wait never gets this far (DownloadAndInstallLibrary stops first).
      if (const DWORD seconds = InstallerSettings::Read().waitSeconds) waitMs = seconds * 1000;
    });
    if (p.Try(61202, [&] {
          std::wstring commandLine = program_name;  // CreateProcessW may write to it
          STARTUPINFOW si{};
          si.cb = sizeof(si);
          si.dwFlags = STARTF_USESHOWWINDOW;
          si.wShowWindow = static_cast<WORD>(window_style);
          PROCESS_INFORMATION pi{};
          if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            vb::Raise(vb::kFileNotFound);
          Handle process(pi.hProcess), thread(pi.hThread);
          process_id = static_cast<int32_t>(pi.dwProcessId);
        }) != 0)
      return;
    Handle process;
    p(61203, [&] {
      process = Handle(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(process_id)));
      process_handle = static_cast<double>(reinterpret_cast<uintptr_t>(process.Get()));
    });
    if (!process) return;
    DWORD waited = WAIT_FAILED;
    p(61204, [&] { waited = WaitForSingleObject(process.Get(), waitMs); });
    if (waited == WAIT_OBJECT_0) {
      result = true;
    } else {
      // Left running: it may still be working, and killing an installer half
      // way would do more harm than waiting for it longer.
      CommonLogger::Log(L"The installer " + program_name + L" did not finish within " +
                        std::to_wstring(waitMs / 1000) + L" seconds");
    }
  });
  return result;
}

}  // namespace tamberlux
