// Stand-in for Word's "Word.Application": an out-of-process automation server
// (LocalServer32, one process per application object, as with Word) that owns
// a real top-level window of class "OpusApp" whose title follows Caption and
// the active document. It answers, late-bound, the members the component uses,
// appends every call it receives to a log file, and can be told to fail the
// ways Word fails.
//
// What it is told comes from HKEY_LOCAL_MACHINE\Software\TamberluxTests\WordStandIn:
//   Version            REG_SZ        what Version answers (default "12.0")
//   StartVisible       REG_DWORD     1: the window starts shown (default hidden, as under automation)
//   RefuseDocuments    REG_DWORD     Documents.Add calls refused with error 4605, over all processes
//   FailAddIns         REG_DWORD     AddIns.Add calls that fail, over all processes
//   FailMacros         REG_DWORD     Run calls whose macro fails, over all processes
//   MissingMacros      REG_MULTI_SZ  macros that Run does not find
//   MacroResult        REG_SZ        "object": Run answers an object
//   DieAt, DieAfter    REG_SZ, DWORD the process ends at the call with this record name
//                                    ("Documents.Add") after answering DieAfter of them
//   CallLog            REG_SZ        file that gets one line per call: "pid\tcall\targs"
//   LogLookups         REG_DWORD     1: name look-ups are logged too, as "Lookup\tObject.Name"
//   WatchKey, WatchValue REG_SZ      a value under HKEY_CURRENT_USER recorded on start-up:
//                                    its text, "(data)" for other types, "(none)"
//   StartDelay         REG_DWORD     ms before the application is registered (Word loading)
//
// As Word, one Word starts at a time: one started while another is still starting hands over
// to it through its window and ends unregistered (its client's creation fails); and each
// process hands out its application once (a second creation asked of it is refused).
//
// Message 1122 reaching the window is logged as "Message\t1122"; what a macro
// was given as "Run.Given\tApplication" (this application) or "...\tOther".
//
// Command line: /regserver, /unregserver, or -Embedding when COM starts it.
#include <windows.h>
#include <shlobj.h>

#include "StandInDispatch.h"
#include "StandInKeys.h"
#include "base/LateBound.h"
#include "base/Text.h"
#include "base/VbError.h"

namespace {

// {5F0C3B7E-6A41-4D2E-8B19-2C7E4A90D613}
const CLSID kClsid = {0x5f0c3b7e, 0x6a41, 0x4d2e, {0x8b, 0x19, 0x2c, 0x7e, 0x4a, 0x90, 0xd6, 0x13}};
constexpr const wchar_t* kClsidText = tamberlux::standin::kWordClsid;
constexpr const wchar_t* kProgId = tamberlux::standin::kWordProgId;
constexpr const wchar_t* kScriptKey = tamberlux::standin::kWordScriptKey;

constexpr HRESULT kWord4605 = 0x800A11FD;    // "This method or property is not available…"
constexpr HRESULT kWord4248 = 0x800A1098;    // no document is open
constexpr HRESULT kWord4198 = 0x800A1066;    // command failed
constexpr HRESULT kMacroFailed = 0x800A0005;  // the macro's own run-time error

// --- What the test told us --------------------------------------------------

bool Script(const wchar_t* name, DWORD type, void* buffer, DWORD size) {
  return RegGetValueW(HKEY_LOCAL_MACHINE, kScriptKey, name, type, nullptr, buffer, &size) == ERROR_SUCCESS;
}

std::wstring ScriptText(const wchar_t* name, const wchar_t* fallback = L"") {
  wchar_t buffer[1024];
  return Script(name, RRF_RT_REG_SZ, buffer, sizeof(buffer)) ? buffer : fallback;
}

DWORD ScriptNumber(const wchar_t* name, DWORD fallback = 0) {
  DWORD value = 0;
  return Script(name, RRF_RT_REG_DWORD, &value, sizeof(value)) ? value : fallback;
}

bool ScriptListHas(const wchar_t* name, const std::wstring& item) {
  wchar_t buffer[2048] = {};
  if (!Script(name, RRF_RT_REG_MULTI_SZ, buffer, sizeof(buffer) - 2 * sizeof(wchar_t))) return false;
  for (const wchar_t* p = buffer; *p; p += wcslen(p) + 1)
    if (_wcsicmp(p, item.c_str()) == 0) return true;
  return false;
}

// Takes one from a counter shared by all stand-in processes; false when none is left.
bool TakeOne(const wchar_t* name) {
  DWORD left = ScriptNumber(name);
  if (left-- == 0) return false;
  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kScriptKey, name, REG_DWORD, &left, sizeof(left));
  return true;
}

// --- The application's state ------------------------------------------------

struct WordState {
  HWND window = nullptr;
  std::wstring version = L"12.0", caption = L"Microsoft Word", dieAt;
  bool visible = false, logLookups = false;
  LONG windowState = 0;
  std::vector<std::wstring> documents;
  int active = -1, nextDocument = 1;
  tamberlux::Handle log;
  DWORD dieAfter = 0, classCookie = 0, activeCookie = 0;
  IUnknown* application = nullptr;
} g;

void Record(const std::wstring& call) {
  if (g.log) {
    const std::string utf8 = tamberlux::ToUtf8(std::to_wstring(GetCurrentProcessId()) + L"\t" + call + L"\n");
    DWORD written = 0;
    WriteFile(g.log.Get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  }
  // A Word that dies in the middle of a call: the process is simply gone.
  if (!g.dieAt.empty() && call.substr(0, call.find(L'\t')) == g.dieAt) {
    if (g.dieAfter == 0) TerminateProcess(GetCurrentProcess(), 3);
    --g.dieAfter;
  }
}

void UpdateTitle() {
  const std::wstring title = g.active >= 0 ? g.documents[g.active] + L" - " + g.caption : g.caption;
  SetWindowTextW(g.window, title.c_str());
}

void ShowAsState() {
  ShowWindow(g.window, !g.visible              ? SW_HIDE
                       : g.windowState == 1 ? SW_SHOWMAXIMIZED
                       : g.windowState == 2 ? SW_SHOWMINIMIZED
                                            : SW_SHOWNORMAL);
}

// A result handed to the caller.
HRESULT Answer(VARIANT* result, tamberlux::Variant value) {
  *result = value;
  VariantInit(&value);
  return S_OK;
}

HRESULT Object(VARIANT* result, IDispatch* object) {
  result->vt = VT_DISPATCH;
  result->pdispVal = object;  // the new object's one reference goes to the caller
  return S_OK;
}

// A property put on the application; a value that does not convert is refused.
HRESULT Put(const std::wstring& member, const VARIANT& value) try {
  RECT r;
  if (member == L"Visible") {
    g.visible = tamberlux::ToBool(value);
    ShowAsState();
  } else if (member == L"WindowState") {
    g.windowState = tamberlux::ToLong(value);
    if (g.visible) ShowAsState();
  } else if (member == L"Left") {
    GetWindowRect(g.window, &r);
    SetWindowPos(g.window, nullptr, tamberlux::ToLong(value), r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  } else if (member == L"Caption") {
    g.caption = tamberlux::ToText(value);
    UpdateTitle();
  } else {
    return DISP_E_MEMBERNOTFOUND;
  }
  return S_OK;
} catch (const tamberlux::vb::Error&) {
  return DISP_E_TYPEMISMATCH;
}

// --- The objects ------------------------------------------------------------

// One of Word's objects, named by its kind in the call records: the Application, its Documents and
// AddIns, or a Document, AddIn or MacroResult that answers `name` as its Name.
class WordObject final : public standin::NamedDispatch {
 public:
  WordObject(std::wstring kind, std::vector<std::wstring> members, std::wstring name = L"")
      : NamedDispatch(std::move(members)), kind_(std::move(kind)), name_(std::move(name)) {}

 protected:
  void LookedUp(LPOLESTR* names, UINT count) override {
    if (!g.logLookups) return;
    std::wstring call = L"Lookup\t" + kind_ + L"." + names[0];
    for (UINT i = 1; i < count; ++i) call += L"\t" + std::wstring(names[i]);
    Record(call);
  }
  HRESULT Member(const std::wstring& member, WORD, const standin::Args& args, VARIANT* result,
                 EXCEPINFO* ei) override;

 private:
  std::wstring kind_, name_;
};

IDispatch* Named(const wchar_t* kind, const std::wstring& name) { return new WordObject(kind, {L"Name"}, name); }

HRESULT WordObject::Member(const std::wstring& member, WORD, const standin::Args& args, VARIANT* result,
                           EXCEPINFO* ei) {
  const bool application = kind_ == L"Application";
  // The application's own members are recorded by their name alone; puts as "Member=value".
  Record((application ? L"" : kind_ + L".") + member +
         (result ? args.Record() : L"=" + standin::Format(*args.At(0))));
  if (!result) return application ? Put(member, *args.At(0)) : DISP_E_MEMBERNOTFOUND;
  using tamberlux::Variant;
  if (member == L"Name") return Answer(result, Variant::Of(name_));
  if (kind_ == L"Documents" && member == L"Count")
    return Answer(result, Variant::Of(static_cast<LONG>(g.documents.size())));
  if (kind_ == L"Documents") {
    if (TakeOne(L"RefuseDocuments"))
      return standin::Raise(ei, kWord4605, L"This method or property is not available because this command is not available for reading.");
    g.documents.push_back(L"Document" + std::to_wstring(g.nextDocument++));
    g.active = static_cast<int>(g.documents.size()) - 1;
    UpdateTitle();
    return Object(result, Named(L"Document", g.documents.back()));
  }
  const std::wstring first = args.At(0) ? standin::Format(*args.At(0)) : L"";
  if (kind_ == L"AddIns" && TakeOne(L"FailAddIns")) return standin::Raise(ei, kWord4198, L"Command failed");
  if (kind_ == L"AddIns") return Object(result, Named(L"AddIn", first));
  RECT r;
  if (member == L"Version") return Answer(result, Variant::Of(g.version));
  if (member == L"Caption") return Answer(result, Variant::Of(g.caption));
  if (member == L"Visible") return Answer(result, Variant::Of(g.visible));
  if (member == L"WindowState") return Answer(result, Variant::Of(g.windowState));
  if (member == L"Left") return GetWindowRect(g.window, &r), Answer(result, Variant::Of(r.left));
  if (member == L"Activate") return SetForegroundWindow(g.window), S_OK;
  if (member == L"Documents") return Object(result, new WordObject(L"Documents", {L"Count", L"Add"}));
  if (member == L"AddIns") return Object(result, new WordObject(L"AddIns", {L"Add"}));
  if (member == L"ActiveDocument") {
    if (g.active < 0) return standin::Raise(ei, kWord4248, L"This command is not available because no document is open.");
    return Object(result, Named(L"Document", g.documents[g.active]));
  }
  if (member == L"Quit") return PostMessageW(g.window, WM_CLOSE, 0, 0), S_OK;
  // Run: a macro of a loaded template or add-in, by name.
  if (first.empty() || ScriptListHas(L"MissingMacros", first))
    return DISP_E_MEMBERNOTFOUND;  // "Unable to run the specified macro"
  // What the macro was given: this application, or something else.
  Variant app;
  if (args.At(1) && SUCCEEDED(VariantChangeType(&app, const_cast<VARIANT*>(args.At(1)), 0, VT_UNKNOWN)))
    Record(std::wstring(L"Run.Given\t") + (app.punkVal == g.application ? L"Application" : L"Other"));
  if (TakeOne(L"FailMacros")) return standin::Raise(ei, kMacroFailed, L"Invalid procedure call or argument");
  if (ScriptText(L"MacroResult") == L"object") return Object(result, Named(L"MacroResult", first));
  return S_OK;
}

// Hands out the one application object of this process, once: registered
// for a single use, so that COM starts a new process for the next client
// that asks for a new Word, as with Word.
class Factory final : public tamberlux::ComObject<IClassFactory, IID_IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (outer) return CLASS_E_NOAGGREGATION;
    if (std::exchange(handedOut_, true)) return CO_E_SERVER_EXEC_FAILURE;
    return g.application->QueryInterface(iid, out);
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  bool handedOut_ = false;
};

// Wine ends an interface's RPC registration in a process when the last stub of that interface there goes, and then
// waits for the calls to it to end, on the apartment thread that would have to answer them: two launches at the same
// instant once hung so, the first client letting go of this single-use factory while the second's CreateInstance was
// queued for this thread. An object of each interface that clients call, marshalled for the table and never let go,
// keeps both registrations for the process's life, without holding on to the factory or the application.
void KeepInterfacesRegistered() {
  IUnknown* const keepers[] = {new Factory(), new WordObject(L"Keeper", {})};
  const IID* const iids[] = {&IID_IClassFactory, &IID_IDispatch};
  for (int i = 0; i < 2; ++i) {
    IStream* stream = nullptr;  // kept until the process ends, with the marshal it holds
    if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)))
      CoMarshalInterface(stream, *iids[i], keepers[i], MSHCTX_LOCAL, nullptr, MSHLFLAGS_TABLESTRONG);
    keepers[i]->Release();
  }
}

// Held by the stand-in process that is starting, from before its window
// appears until its objects are registered.
constexpr wchar_t kStartingMutex[] = L"TamberluxTests.WordStandIn.Starting";

// Keeps the window answering for `ms`; false when it was closed meanwhile.
bool Load(DWORD ms) {
  for (const ULONGLONG end = GetTickCount64() + ms; GetTickCount64() < end;) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    for (MSG msg; PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE);)
      if (msg.message == WM_QUIT) return false;
      else DispatchMessageW(&msg);
  }
  return true;
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) PostQuitMessage(0);
  // The component's deferred-installation message reached the window.
  if (message == WM_USER + 98) Record(L"Message\t1122");
  return message == WM_USER + 98 ? 0 : DefWindowProcW(window, message, wParam, lParam);
}

void RecordStart() {
  std::wstring call = L"Created";
  const std::wstring watchKey = ScriptText(L"WatchKey"), watchValue = ScriptText(L"WatchValue");
  if (!watchValue.empty()) {
    wchar_t buffer[1024] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t), type = 0;
    const bool found = RegGetValueW(HKEY_CURRENT_USER, watchKey.c_str(), watchValue.c_str(),
                                    RRF_RT_ANY | RRF_NOEXPAND, &type, buffer, &size) == ERROR_SUCCESS;
    call += L"\t" + watchValue + L"=" + (!found ? L"(none)" : type == REG_SZ ? std::wstring(buffer) : L"(data)");
  }
  Record(call);
}

int Serve(HINSTANCE instance, const std::wstring& args) {
  const std::wstring logPath = ScriptText(L"CallLog");
  if (!logPath.empty())
    g.log.Reset(CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  // Another Word is starting: this one hands over to it, through its window
  // once that is up (within 10 s), and ends. When the other one ends first
  // without a window, this one starts after all.
  const tamberlux::Handle starting(CreateMutexW(nullptr, FALSE, kStartingMutex));
  DWORD wait = starting ? WaitForSingleObject(starting.Get(), 0) : WAIT_FAILED;
  for (const ULONGLONG end = GetTickCount64() + 10000; wait == WAIT_TIMEOUT && GetTickCount64() < end;) {
    if (FindWindowW(L"OpusApp", nullptr)) break;
    wait = WaitForSingleObject(starting.Get(), 20);
  }
  if (wait == WAIT_TIMEOUT) {
    Record(L"HandedOver");
    return 4;
  }
  g.version = ScriptText(L"Version", L"12.0");
  g.visible = ScriptNumber(L"StartVisible") != 0;
  g.dieAt = ScriptText(L"DieAt");
  g.dieAfter = ScriptNumber(L"DieAfter");
  g.logLookups = ScriptNumber(L"LogLookups") != 0;

  const WNDCLASSW wc{0, WindowProc, 0, 0, instance, nullptr, nullptr, nullptr, nullptr, L"OpusApp"};
  RegisterClassW(&wc);
  g.window = CreateWindowExW(0, L"OpusApp", g.caption.c_str(), WS_OVERLAPPEDWINDOW, 100, 80, 640, 480, nullptr,
                             nullptr, instance, nullptr);
  if (!g.window) return 2;
  ShowAsState();
  // Word keeps its templates (Normal.dotm) here and makes the folder on its first start.
  wchar_t appData[MAX_PATH];
  if (SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData) == S_OK)
    SHCreateDirectoryExW(nullptr, (std::wstring(appData) + L"\\Microsoft\\Templates").c_str(), nullptr);
  RecordStart();

  g.application = new WordObject(L"Application", {L"Version", L"Visible", L"WindowState", L"Left", L"Activate",
                                                  L"Caption", L"Documents", L"ActiveDocument", L"Quit", L"Run",
                                                  L"AddIns"});
  if (!Load(ScriptNumber(L"StartDelay"))) return 0;
  KeepInterfacesRegistered();
  Factory* factory = new Factory();
  CoRegisterClassObject(kClsid, factory, CLSCTX_LOCAL_SERVER, REGCLS_SINGLEUSE, &g.classCookie);
  RegisterActiveObject(g.application, kClsid, ACTIVEOBJECT_STRONG, &g.activeCookie);
  if (const size_t at = args.find(tamberlux::standin::kWordReadyOption); at != std::wstring::npos)
    if (const tamberlux::Handle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, args.substr(at + wcslen(tamberlux::standin::kWordReadyOption) + 1).c_str())); ready)
      SetEvent(ready.Get());
  if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(starting.Get());

  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }

  Record(L"Exited");
  RevokeActiveObject(g.activeCookie, nullptr);
  if (g.classCookie) CoRevokeClassObject(g.classCookie);
  CoDisconnectObject(g.application, 0);
  g.application->Release();
  factory->Release();
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int) {
  const std::wstring args = commandLine ? commandLine : L"";
  if (args.find(L"/unregserver") != std::wstring::npos) {
    standin::UnregisterClassKeys(kClsidText, kProgId);
    return 0;
  }
  if (args.find(L"/regserver") != std::wstring::npos) {
    const std::wstring server = L"\"" + standin::OwnPath() + L"\"";
    return standin::RegisterClassKeys(kClsidText, kProgId, L"LocalServer32", server, nullptr) ? 0 : 1;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  // Word's process ends once its objects are revoked and let go, without leaving COM: under Wine,
  // CoUninitialize was seen to wait for good when a client's call came in as Word was going, a call
  // this thread, no longer dispatching, could never answer. The client's call fails, as with Word.
  ExitProcess(static_cast<UINT>(Serve(instance, args)));
}
