// The one header the tests include: the COM apartment and the error trap, the
// stand-in error reporter and Word, the product's files, message boxes read
// from outside, and a private registry subtree per test. Helpers that look at
// something return what they found; the test asserts it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "base/ComTypes.h"
#include "base/LateBound.h"
#include "base/Text.h"
#include "registry/WordKeys.h"
#include "StandInKeys.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace tamberlux::test {

// --- Core (TestSupport.cpp) ---------------------------------------------------

// A COM apartment for the test's thread and a freshly started error trap, both undone at the end.
struct StartedTrap { StartedTrap(); ~StartedTrap(); };

// Folder of the running test program (the stand-ins are built beside it).
std::wstring BinDir();
// The test program's own path: a test that runs some of its cases again in a process of their own.
std::wstring TestProgram();
// A folder beside it of this Wine prefix's own (made on first use), on the Unix side so that Unix programs
// reach it too: for files named by a process id, since test programs run side by side, each in a prefix of
// its own, and process ids repeat from prefix to prefix.
std::wstring ScratchDir();
bool Contains(const std::vector<std::wstring>& calls, const std::wstring& call);
std::vector<std::wstring> Split(const std::wstring& text, wchar_t sep);

// The stand-in error reporter "ZentrelloError.Main2", loaded from the DLL COM creates it from.
class ReporterStandIn {
 public:
  ReporterStandIn();
  ~ReporterStandIn();
  // vbwErrorHandler answers `codes` in order, then `then`.
  void Answer(std::vector<LONG> codes, LONG then = 7);
  // `method` fails `times` times (-1: always).
  void Fail(const wchar_t* method, int times);
  void Unregister();
  // `call` runs once inside the next question, before it is answered: code reached while the reporter's window is up.
  void DuringQuestion(void (*call)());
  // Each call: method name, then its arguments as text.
  std::vector<std::vector<std::wstring>> Calls() const;
  // Each call as one line: its fields joined by blanks.
  std::vector<std::wstring> Records() const;
  std::vector<std::wstring> Methods() const;
  int Count(const std::wstring& method) const;

 private:
  Module dll_;
};

// --- Programs (TestSupport.cpp) ------------------------------------------------

// A program started, tried again when Wine fails to start one among many; its stdout (and its stderr,
// `withStderr`) to `output`, or nowhere of ours when null. `process` is empty when it could not start.
struct Started { Handle process; DWORD id = 0, error = 0; };
Started Start(std::wstring commandLine, HANDLE output = nullptr, bool withStderr = true);
// What a program run to its end did: its exit code (kNotStarted when it could not be started), whether
// it passed its bound and was ended, and what it wrote (UTF-8 bytes, or as text).
inline constexpr DWORD kNotStarted = 0xDEAD;
struct Ran {
  DWORD code = kNotStarted, startError = 0;
  bool hung = false;
  std::string bytes;
  std::wstring Text() const { return FromUtf8(bytes); }
};
// Runs a program to its end, or ends it at its bound. Its output goes to a file, never a pipe: a
// process it starts meanwhile (a COM local server) would hold a pipe open. `id` gets its process id.
Ran Run(const std::wstring& commandLine, DWORD boundMs = 60000, bool withStderr = false, std::atomic<DWORD>* id = nullptr);
// The built tamberlux command with these arguments.
Ran Tamberlux(const std::wstring& args, bool withStderr = true, DWORD boundMs = 60000, std::atomic<DWORD>* id = nullptr);
// Ends a running process and waits (up to 5 s) for it to go.
void EndProcess(DWORD id);
// A top-level window of this thread with its own class and `proc`, hidden unless `style` shows it; gone with the
// test's process.
HWND AddWindow(const wchar_t* className, const wchar_t* caption, WNDPROC proc = DefWindowProcW,
               DWORD style = WS_OVERLAPPEDWINDOW);
// Dispatches this thread's messages until `done` answers true or `ms` pass; whether it did.
bool WaitUntil(const std::function<bool()>& done, DWORD ms = 10000);
// How many control characters other than line ends output meant for a person or a program holds: none, escaped.
size_t RawControls(const std::wstring& text);
// How often `part` occurs in `text`.
size_t Occurrences(const std::wstring& text, const std::wstring& part);
// A file's bytes, or "<missing>"; a file written with these bytes.
std::string ReadWholeFile(const std::wstring& path);
void WriteWholeFile(const std::wstring& path, const std::string& bytes);
// Runs a VBScript of these lines with cscript; what it echoed (and wrote to stderr), then how it ended when it
// failed or hung.
std::wstring RunVBScript(const std::vector<std::wstring>& lines);
// regsvr32 with `flags` ("/s", "/u /s") on the built Tamberlux.dll; its exit code.
DWORD Regsvr32(const std::wstring& flags);
// A library's DllRegisterServer-shaped export (no arguments, an HRESULT) called from this process, the library
// loaded for the call; E_NOINTERFACE when it has no such export.
HRESULT CallExport(const std::wstring& dll, const char* name);
// Tamberlux.dll's DllRegisterServer called from this process, as regsvr32 /s calls it, without a process of its
// own; its answer.
HRESULT RegisterComponent();
// A new Tamberlux.Main2, created by ProgID as the product's programs create it, or null.
ComPtr<IDispatch> CreateMain2();
// A late-bound call with positional arguments in call order.
HRESULT CallByName(IDispatch* d, const wchar_t* name, std::vector<VARIANT> args, VARIANT* result = nullptr);
// HookIntoWord as a compiled installer calls it: all by reference, the lists
// empty arrays of strings; the object it answered goes to `result`.
HRESULT CallHookIntoWord(IDispatch* main2, const LateObject& app, const std::wstring& name, VARIANT* result);

// The product's template where its installer puts it (Program Files\Valdomeren\<name>\) and its
// copies in the user's Templates folder: absent at the start; copies found there are put back afterwards.
class ProductTemplate {
 public:
  explicit ProductTemplate(const std::wstring& name = L"Zentrello");
  ~ProductTemplate();
  std::wstring Source(const wchar_t* extension) const;
  std::wstring Copy(const wchar_t* extension) const;

  static FILETIME Time(const std::wstring& path);
  static void SetTime(const std::wstring& path, FILETIME time);

 private:
  std::wstring name_, sourceDir_, copyDir_;
};

// A test with a started trap and the stand-in reporter, whose trap must be asked `expectedQuestions` times.
class TrapTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), expectedQuestions) << "unexpected failures went to the trap";
  }
  StartedTrap trap;
  ReporterStandIn reporter;
  int expectedQuestions = 0;
};

// And Tamberlux.Main2 registered and created by ProgID; released before the test's own members go.
class Main2Test : public TrapTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(RegisterComponent(), S_OK);
    main2 = CreateMain2();
    ASSERT_TRUE(main2);
  }
  void TearDown() override {
    TrapTest::TearDown();
    main2 = nullptr;
  }
  ComPtr<IDispatch> main2;
};

// --- The stand-in Word (WordStandInDriver.cpp) ------------------------------

// The stand-in Word, registered as "Word.Application" while the object lives. Every stand-in process
// of this prefix is ended on construction and destruction (each test program has a prefix and a
// wineserver of its own, so another program's Words are never seen); what a test tells it goes to its
// script key, and each call it received is read back from its log.
class WordStandIn {
 public:
  WordStandIn();
  ~WordStandIn();
  void Set(const wchar_t* name, const std::wstring& text);
  void Set(const wchar_t* name, DWORD number);
  void SetList(const wchar_t* name, const std::vector<std::wstring>& items);
  // "Word.Application" registered (as on construction), or not: Word is not installed.
  void Register();
  void Unregister();
  // A new Word, started as the user or another program starts one; Nothing when none starts.
  static LateObject Start();

  // Stand-in processes in the order they started.
  std::vector<DWORD> Processes() const;
  // What one process was asked, each "Member\targs" (puts as "Member=value").
  std::vector<std::wstring> Calls(DWORD process) const;
  std::vector<std::wstring> Calls() const;  // of the first process
  bool Running(DWORD process) const;
  // Each "OpusApp" window of a process.
  static std::vector<HWND> Windows(DWORD process);

 private:
  std::vector<std::pair<DWORD, std::wstring>> Lines() const;
  std::wstring log_;
};

// --- Message boxes (Dialogs.cpp) ----------------------------------------------

// A message box read by a separate process, as a user sees it: its title and text, optionally the
// first window of class `watchClass` while the box is up; then the button `press` is pressed.
class DialogWatch {
 public:
  explicit DialogWatch(const std::wstring& watchClass = L"", int press = IDOK, DWORD timeoutMs = 30000);
  // A watcher given DialogReader's own options ("--form --keys tab"), for what Seen does not hold.
  struct Options { std::wstring text; };
  explicit DialogWatch(const Options& options, DWORD timeoutMs = 30000);
  ~DialogWatch();
  // What the reader wrote, "name\0value\0" for each field; `chanceOver` as for Result.
  std::wstring Output(bool chanceOver = false);
  // Waits for the watcher; empty when no dialog appeared. `chanceOver`: what could show a box has
  // returned or ended, so a watcher still looking for one stops now.
  // `style`: the buttons' texts joined by "|", then ", icon" when the box shows one ("OK", "OK, icon").
  struct Seen { bool appeared = false; std::wstring title, text, style; LONG watchedLeft = 0; bool watchedVisible = false; };
  Seen Result(bool chanceOver = false);
  // Waits for the watcher, or until `process` ends: a box it could show can no longer come.
  Seen ResultWhile(HANDLE process);

 private:
  Handle stop_;
  std::thread reader_;
  std::wstring output_;
  std::atomic<bool> done_{false};
};

// --- The registry (Registry.cpp) ----------------------------------------------

// Maps HKEY_CURRENT_USER of this process onto an empty private subtree, deleted afterwards.
class PrivateUserHive {
 public:
  PrivateUserHive();
  ~PrivateUserHive();
  // Where the private hive lives in the real HKEY_CURRENT_USER.
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_;
};

// A key of the real user hive that a test (or a program it runs) may change: put back as it was.
class KeptUserKey {
 public:
  explicit KeptUserKey(std::wstring path);
  ~KeptUserKey();

 private:
  std::wstring path_, aside_;
  bool existed_;
};

// Raw registry access under HKEY_CURRENT_USER for arranging and checking state.
void SetValue(const std::wstring& path, const std::wstring& name, DWORD type, const void* data, DWORD size);
void SetText(const std::wstring& path, const std::wstring& name, const std::wstring& text);
void SetDword(const std::wstring& path, const std::wstring& name, DWORD value);
bool KeyExists(const std::wstring& path);
struct RawValue { bool exists = false; DWORD type = 0; std::vector<BYTE> data; };
RawValue ReadRaw(const std::wstring& path, const std::wstring& name);
// A string value's text, or "(none)"; a DWORD value, or 0xFFFFFFFF.
std::wstring ReadText(const std::wstring& path, const std::wstring& name);
DWORD ReadDword(const std::wstring& path, const std::wstring& name);
// Value names in the registry's order (Wine: name order).
std::vector<std::wstring> ValueNames(const std::wstring& path);

// Where Word finds COM add-ins under HKEY_CURRENT_USER, and the product's two, as Word and the add-ins spell them.
inline constexpr const wchar_t* kAddins = L"SOFTWARE\\Microsoft\\Office\\Word\\Addins\\";
inline constexpr const wchar_t* kMonitor = L"AddinMonitor.ZentrelloMonitor";
inline constexpr const wchar_t* kAddin = L"Kestrivane.ZentrelloAddinForWord";

// A DisabledItems/StartupItems entry as Word writes it.
inline std::vector<BYTE> WordEntry(const std::wstring& path, const std::wstring& friendlyName, DWORD type = 1) {
  return WordKeys::EncodeEntry({type, path, friendlyName});
}
void AddEntry(const std::wstring& list, const std::wstring& valueName, const std::vector<BYTE>& data);

// Files `tamberlux restore` refuses, each after Word's Data key for `version` and a value (lines 3, 4): its
// bytes, the refusal as the command shows it, and the key (and value) it names, which must stay absent.
struct HostileBackup { std::string bytes; std::wstring why, key, value; };
std::vector<HostileBackup> HostileBackups(const std::wstring& version, const std::wstring& productName);
std::string Utf16File(const std::wstring& text);  // with its byte-order mark, as backups are written

}  // namespace tamberlux::test
