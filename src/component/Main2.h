// Main2: what the launcher, the installer and the monitor add-in drive. This
// class holds the procedures and fields; Main2Object (Dll.cpp) puts the COM
// interface around it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/LateBound.h"

namespace tamberlux {

class Main2 {
 public:
  Main2() = default;
  Main2(const Main2&) = delete;
  Main2& operator=(const Main2&) = delete;

  // Public members of _Main2.
  void DeleteCorruptedDataFolder(std::wstring& version);
  // The launch from the desktop icon; `word` is replaced in place when the
  // launch had to start a Word or move to a new one.
  void StartRunTime(std::wstring& name, LateObject& word, bool startZTL = true);
  void Quit();

  // The launch's helpers, and the settings they keep in the product's section.
  bool WordIsSupported(const std::wstring& productName);
  std::wstring getWordVersion(const std::wstring& productName, const LateObject& word);
  void setWordVersion(const std::wstring& productName, const std::wstring& version);
  bool permanentlyDisableAddin(const std::wstring& productName);
  void permanentlyDisableAddin(const std::wstring& productName, bool value);
  void ForceCreateTamberluxToQuit(const std::wstring& name);
  // True when Word no longer answers: its process went away.
  bool wordExitedBecauseOfMissingLibrary(const LateObject& word);
  // Tells the user why Word is about to exit.
  void WarnUserOfCrash(const std::wstring& productName, const std::wstring& Filename, const std::wstring& url,
                       bool testVBScript);

  // Add-in registration and enabling.
  void EnableComAddins();
  void EnableComAddin(const std::wstring& progId, const std::wstring& friendlyName, const std::wstring& description);
  void enableTamberlux(const std::wstring& name, const std::wstring& version);
  std::wstring resiliencyKey(const std::wstring& version);
  std::wstring productSection(const std::wstring& productName);

  // Disabled-items detection: the registry value that lists the add-in, or "".
  std::wstring tamberluxDisabled(const std::wstring& name, const std::wstring& version);
  std::wstring tamberluxDisabledImpl(const std::wstring& name, const std::wstring& version, const std::wstring& key);

  bool failedWord2000CheckOnInstallation(const std::wstring& productName);

  // --- The installation hook (HookIntoWord.cpp). ---

  // --- The monitor and its dialog (Monitor.cpp). ---
  // Called by the monitor add-in as Word starts: when Word has disabled the
  // add-in, asks the user whether to re-enable it (Word restarts with it),
  // leave it off this time, or switch it off for good. `word` is replaced in
  // place when Word was restarted.
  void CreateAddInMonitor(std::wstring& name, LateObject& word);
  // Closes Word without saving and starts a new visible one; Nothing when
  // none could be started.
  LateObject RestartWord(const std::wstring& productName, const LateObject& word);

  // --- The dependency installer (Dependencies.cpp). ---
  // True when every library group and every listed program DLL is in place,
  // after downloads and installs where needed.
  bool EnsureDependenciesAreRegistered(std::wstring& name, std::vector<std::wstring>& dependencies,
                                       std::vector<std::wstring>& dependenciesXPOrLater);

  // Word: the running one brought forward, or a new visible one; Nothing when
  // none can be had.
  LateObject WordApplication();
  LateObject CreateWordApplication();

  // The class's section of a variable dump.
  static void ReportModuleVariables(const void* self);

  // Fields, in declaration order.
  std::wstring mName;
  std::wstring mPath;
  LateObject mWord;
  LateObject mSubclasser;
};

}  // namespace tamberlux
