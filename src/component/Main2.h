// Main2: what the launcher, the installer and the monitor add-in drive. This
// class holds the procedures and fields; Main2Object (Dll.cpp) puts the COM
// interface around it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/LateBound.h"
#include "base/VbError.h"
#include "component/InstallMessages.h"
#include "component/hook/WindowHook.h"

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
  // Hooks the add-in's template into the installer's Word: the add-in's
  // object when that completed at once, Nothing when it was deferred until
  // Word's main window has handled message 1122 (or Word was told to quit).
  // A refused name or a Word that is not usable is refused before anything
  // is checked, fetched or run, and left in mRefusal.
  LateObject HookIntoWord(std::wstring& name, LateObject& word, std::vector<std::wstring>& dependencies,
                          std::vector<std::wstring>& dependenciesXPOrLater);
  LateObject HookIntoWordImpl(const std::wstring& name, const std::wstring& path, const LateObject& word);
  bool addinInstalled(const std::wstring& path, const LateObject& word);
  void PreventToolbarCorruption();
  void mSubclasser_AfterMessage(int32_t uMsg, int32_t wParam, int32_t lParam, int32_t& retValue);
  // Releasing the object releases the hook of a deferred installation.
  ~Main2();

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
  bool EnsureInfraIsInstalled(const std::wstring& library, const std::wstring& name,
                              const std::wstring& systemFolderPath);
  bool EnsureProgramDllsAreRegistered(const std::wstring& productName, const std::vector<std::wstring>& fileNames,
                                      const std::vector<std::wstring>& fileNamesXPOrLater);
  // True when HKLM's "EnableLUA" policy value is 1.
  bool UACEnabled();
  // The notice (unless user account control is on), the download, and the
  // installer run with " /Q" and waited for.
  bool DownloadAndInstallLibrary(const std::wstring& name, const std::wstring& url);
  // Starts a command line and waits, for a bounded time, for it to end.
  bool ShellAndWait(std::wstring program_name, int32_t window_style);
  // Every file of the list in folderPath exists and provides its ProgID
  // (registering itself where needed) and, if asked, "VBScript.RegExp" can be
  // created. Stops at the first failure; reports nothing of its own.
  bool CheckRegistration(const std::wstring& folderPath, const std::vector<std::wstring>& fileNames,
                         const std::vector<std::wstring>& progIds, bool testVBScript);
  // progId registered, after letting the DLL at path register itself if it was not.
  bool Createable(const std::wstring& path, const std::wstring& progId);
  // A directory search: wildcards match; folders, hidden and system files do not.
  bool fileExists(const std::wstring& path);
  bool IsProgIDRegistered(std::wstring strProgID);
  // words becomes the text of each element, in order.
  void StringArray(std::vector<std::wstring>& words, const std::vector<Variant>& elements);
  // The server file registered for the ProgID; raises 12345 when there is none.
  std::wstring GetFileFromProgID(std::wstring progId);

  // Word: the running one brought forward, or a new visible one; Nothing when
  // none can be had.
  LateObject WordApplication();
  LateObject CreateWordApplication();
  // The Word that is starting while this launch could not start one (its
  // main window is up, its application not yet registered), once it is
  // registered: asked every kWordBeingStartedPollMs, messages flowing, for
  // kWordBeingStartedWaitMs at most. Nothing when no Word window is up, when
  // the window goes, or when the bound passes.
  LateObject WordBeingStarted();
  static constexpr int32_t kWordBeingStartedWaitMs = 30000;
  static constexpr int32_t kWordBeingStartedPollMs = 250;

  // The class's section of a variable dump.
  static void ReportModuleVariables(const void* self);

  // Fields, in declaration order.
  std::wstring mName;
  std::wstring mPath;
  LateObject mWord;
  ComPtr<WindowHook> mSubclasser;

  // Not part of the class's dump:
  // The error the COM caller gets too, once the trap has had it: a call
  // refused before it did anything (a product name or a Word that cannot be
  // used), or the monitor's Word that went while the user was answering.
  std::optional<vb::Error> mRefusal;
  // What the last HookIntoWord did, for a caller that reports it.
  InstallMessages::Outcome mInstallOutcome;
  // `check` as a step whose failure is the call's answer to its caller: the
  // error is kept in mRefusal (cleared when a retry succeeds).
  template <class F>
  auto Refusing(F&& check) {
    return [this, &check] {
      mRefusal.reset();
      try {
        check();
      } catch (...) {
        mRefusal = vb::CurrentError();
        throw;
      }
    };
  }
  // Gives the download notice in place of the box through Word, for a caller
  // that tells its user itself (the tamberlux command on a console); answers
  // whether the notice was given.
  std::function<bool(const std::wstring& text, const std::wstring& title)> mDownloadNotice;
};

}  // namespace tamberlux
