// tamberlux: the component from a console.
//
//   tamberlux launch NAME [--no-macro]   starts Word with the add-in, as the desktop icon does,
//                                        through COM like the product's launcher
//   tamberlux status NAME [--json]       what decides whether the add-in loads, read with the
//                                        component's own registry and detection code; changes nothing
//
// Exit codes: 0 done, 2 usage, 3 the component is not registered, 4 Word could not be
// reached, 5 the call failed.
#include <windows.h>
#include <oaidl.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "component/Main2.h"
#include "errortrap/VbError.h"
#include "errortrap/vbwProtector.h"
#include "registry/ComAddins.h"
#include "registry/RegistryFunctions.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/LateBound.h"
#include "support/UtilityFunctions.h"

namespace tamberlux {
namespace {

namespace reg = RegistryFunctions;

enum ExitCode { kDone = 0, kUsage = 2, kNotRegistered = 3, kNoWord = 4, kFailed = 5 };

void Print(const std::wstring& text, FILE* to = stdout) {
  std::string utf8(text.size() * 3 + 1, '\0');
  utf8.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                                  static_cast<int>(utf8.size()), nullptr, nullptr));
  std::fputs(utf8.c_str(), to);
}

int Fail(ExitCode code, const std::wstring& message) {
  Print(L"tamberlux: " + message + L"\n", stderr);
  return code;
}

std::wstring Hex(HRESULT hr) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

// --- launch -----------------------------------------------------------------

int Launch(const std::wstring& name, bool startMacro) {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"Tamberlux.Main2", &clsid)))
    return Fail(kNotRegistered, L"Tamberlux.Main2 is not registered: run regsvr32 on Tamberlux.dll first");
  ComPtr<IDispatch> d;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, d.PutVoid());
  if (FAILED(hr)) return Fail(kNotRegistered, L"Tamberlux.Main2 could not be created (" + Hex(hr) + L")");
  LateObject main2(std::move(d));

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
    return Fail(kFailed, L"StartRunTime failed: " + e.description + L" (" + std::to_wstring(e.number) + L")");
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

// --- status -----------------------------------------------------------------

struct ListEntry {
  std::wstring valueName;
  std::optional<DWORD> type;
  std::wstring path, friendlyName;
  bool product = false;
};

struct Copy {
  std::wstring file, source, path, state;
  bool sourceExists = false;
  bool used = false;
};

struct Status {
  std::wstring product, section, wordVersion, resiliencyKey;
  struct Addin {
    std::wstring progId, friendlyName;
    std::optional<int32_t> loadBehavior;
  };
  std::vector<Addin> addins;
  std::vector<ListEntry> disabledItems, startupItems;
  std::wstring permanentlyDisableAddin, failedWord2000Check;
  std::wstring templateSource;
  std::vector<Copy> copies;
};

// An entry as Word writes it: type, byte lengths of the UTF-16 path and
// friendly name, then both. Left empty when the data has another shape.
void Decode(const std::vector<BYTE>& data, ListEntry& entry) {
  if (data.size() < 12) return;
  DWORD type, pathBytes, nameBytes;
  memcpy(&type, &data[0], 4);
  memcpy(&pathBytes, &data[4], 4);
  memcpy(&nameBytes, &data[8], 4);
  if (pathBytes % 2 || nameBytes % 2 || 12ull + pathBytes + nameBytes > data.size()) return;
  auto text = [&](size_t offset, size_t bytes) {
    std::wstring t(reinterpret_cast<const wchar_t*>(&data[offset]), bytes / 2);
    while (!t.empty() && t.back() == L'\0') t.pop_back();
    return t;
  };
  entry.type = type;
  entry.path = text(12, pathBytes);
  entry.friendlyName = text(12 + pathBytes, nameBytes);
}

std::vector<BYTE> RawData(const std::wstring& key, const std::wstring& valueName) {
  std::vector<BYTE> data;
  DWORD size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), valueName.c_str(), RRF_RT_ANY, nullptr, nullptr, &size) !=
      ERROR_SUCCESS)
    return data;
  data.resize(size);
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), valueName.c_str(), RRF_RT_ANY, nullptr, data.data(), &size) !=
      ERROR_SUCCESS)
    data.clear();
  data.resize(size);
  return data;
}

// Each value of a resiliency list, as the component's detection sees it.
std::vector<ListEntry> ReadList(const std::wstring& product, const std::wstring& key) {
  std::wstring lower = product;
  CharLowerBuffW(lower.data(), static_cast<DWORD>(lower.size()));
  std::vector<ListEntry> entries;
  for (int32_t index = 0;; ++index) {
    std::wstring data;
    int32_t i = index;
    const std::wstring valueName = reg::ReadRegistryStringGetAll(HKEY_CURRENT_USER, key, i, data);
    if (valueName.empty()) break;
    ListEntry entry;
    entry.valueName = valueName;
    entry.product = Main2::NamesProduct(lower, data);
    Decode(RawData(key, valueName), entry);
    entries.push_back(entry);
  }
  return entries;
}

Status ReadStatus(const std::wstring& name) {
  Main2 main2;
  Status s;
  s.product = name;
  s.section = main2.productSection(name);
  s.wordVersion = reg::ReadRegistryString(HKEY_CURRENT_USER, s.section, L"WordVersion");
  for (const ComAddin& addin : kComAddins) {
    const std::wstring key = kComAddinsKey + std::wstring(addin.progId);
    Status::Addin a{addin.progId, reg::ReadRegistryString(HKEY_CURRENT_USER, key, L"friendlyName"), std::nullopt};
    const std::wstring behavior = reg::ReadRegistry(HKEY_CURRENT_USER, key, L"LoadBehavior");
    if (!behavior.empty()) a.loadBehavior = _wtoi(behavior.c_str());
    s.addins.push_back(a);
  }
  if (!s.wordVersion.empty()) {
    s.resiliencyKey = main2.resiliencyKey(s.wordVersion);
    s.disabledItems = ReadList(name, s.resiliencyKey + L"DisabledItems");
    s.startupItems = ReadList(name, s.resiliencyKey + L"StartupItems");
  }
  s.permanentlyDisableAddin = reg::ReadRegistryString(HKEY_CURRENT_USER, s.section, L"PermanentlyDisableAddin");
  s.failedWord2000Check = reg::ReadRegistryString(HKEY_CURRENT_USER, s.section, L"FailedWord2000Check");

  // The copy a launch makes depends on Word's release; the recorded version
  // tells which one, and both are shown.
  s.templateSource = UtilityFunctions::SRC_PATH(name);
  // A recorded version that is no version text tells nothing: neither copy is marked.
  enum { kUnknown, kDot, kDotm } uses = kDotm;
  try {
    if (!s.wordVersion.empty()) uses = CommonWordInteractionFunctions::MajorVersion(s.wordVersion) >= 12 ? kDotm : kDot;
  } catch (const vb::Error&) {
    uses = kUnknown;
  }
  for (const wchar_t* extension : {L".dot", L".dotm"}) {
    Copy c;
    c.file = name + extension;
    c.source = s.templateSource + c.file;
    c.sourceExists = UtilityFunctions::fileExists(c.source);
    c.path = UtilityFunctions::TrustedTemplatePath(c.file);
    c.used = uses == (std::wstring(extension) == L".dotm" ? kDotm : kDot);
    c.state = !UtilityFunctions::fileExists(c.path)                 ? L"missing"
              : UtilityFunctions::NeedToCopy(name, c.path) ? L"different time"
                                                           : L"same time";
    s.copies.push_back(c);
  }
  return s;
}

std::wstring Json(const std::wstring& text) {
  std::wstring out = L"\"";
  for (wchar_t c : text) {
    switch (c) {
      case L'"': out += L"\\\""; break;
      case L'\\': out += L"\\\\"; break;
      case L'\n': out += L"\\n"; break;
      case L'\r': out += L"\\r"; break;
      case L'\t': out += L"\\t"; break;
      default:
        if (c < 0x20) {
          wchar_t u[8];
          swprintf(u, 8, L"\\u%04x", static_cast<unsigned>(c));
          out += u;
        } else {
          out += c;
        }
    }
  }
  return out + L"\"";
}

std::wstring JsonOrNull(const std::wstring& text) { return text.empty() ? L"null" : Json(text); }

std::wstring JsonList(const std::vector<ListEntry>& entries) {
  std::wstring out = L"[";
  for (size_t i = 0; i < entries.size(); ++i) {
    const ListEntry& e = entries[i];
    out += (i ? L", " : L"") + std::wstring(L"{\"value\": ") + Json(e.valueName) + L", \"type\": " +
           (e.type ? std::to_wstring(*e.type) : L"null") + L", \"path\": " + JsonOrNull(e.path) +
           L", \"friendlyName\": " + JsonOrNull(e.friendlyName) + L", \"product\": " +
           (e.product ? L"true" : L"false") + L"}";
  }
  return out + L"]";
}

void PrintJson(const Status& s) {
  std::wstring out = L"{\n  \"product\": " + Json(s.product) + L",\n  \"section\": " + Json(s.section) +
                     L",\n  \"wordVersion\": " + JsonOrNull(s.wordVersion) + L",\n  \"comAddins\": [";
  for (size_t i = 0; i < s.addins.size(); ++i)
    out += (i ? L", " : L"") + std::wstring(L"{\"progId\": ") + Json(s.addins[i].progId) + L", \"friendlyName\": " +
           JsonOrNull(s.addins[i].friendlyName) + L", \"loadBehavior\": " +
           (s.addins[i].loadBehavior ? std::to_wstring(*s.addins[i].loadBehavior) : L"null") + L"}";
  out += L"],\n  \"resiliencyKey\": " + JsonOrNull(s.resiliencyKey) + L",\n  \"disabledItems\": " +
         JsonList(s.disabledItems) + L",\n  \"startupItems\": " + JsonList(s.startupItems) +
         L",\n  \"permanentlyDisableAddin\": " + JsonOrNull(s.permanentlyDisableAddin) +
         L",\n  \"failedWord2000Check\": " + JsonOrNull(s.failedWord2000Check) + L",\n  \"template\": {\"source\": " +
         Json(s.templateSource) + L", \"copies\": [";
  for (size_t i = 0; i < s.copies.size(); ++i)
    out += (i ? L", " : L"") + std::wstring(L"{\"file\": ") + Json(s.copies[i].file) + L", \"source\": " +
           Json(s.copies[i].source) + L", \"sourceExists\": " +
           (s.copies[i].sourceExists ? L"true" : L"false") + L", \"path\": " +
           Json(s.copies[i].path) + L", \"state\": " + Json(s.copies[i].state) + L", \"used\": " +
           (s.copies[i].used ? L"true" : L"false") + L"}";
  Print(out + L"]}\n}\n");
}

std::wstring Or(const std::wstring& text, const wchar_t* none) { return text.empty() ? none : text; }

void PrintList(const wchar_t* title, const std::vector<ListEntry>& entries) {
  Print(std::wstring(L"  ") + title + L": " + (entries.empty() ? L"none" : std::to_wstring(entries.size())) + L"\n");
  for (const ListEntry& e : entries)
    Print(L"    " + e.valueName + L"  type " + (e.type ? std::to_wstring(*e.type) : L"?") + L"  " +
          Or(e.path, L"(undecoded)") + L"  \"" + e.friendlyName + L"\"" + (e.product ? L"  <- the add-in" : L"") +
          L"\n");
}

void PrintText(const Status& s) {
  Print(s.product + L" (HKEY_CURRENT_USER\\" + s.section + L")\n");
  Print(L"  recorded Word version: " + Or(s.wordVersion, L"none (the next launch is a first launch)") + L"\n");
  for (const auto& a : s.addins)
    Print(L"  COM add-in " + a.progId + L": " +
          (a.loadBehavior ? L"LoadBehavior " + std::to_wstring(*a.loadBehavior) +
                                (*a.loadBehavior == 3 ? L" (loads at start-up)" : L" (does not load at start-up)")
                          : std::wstring(L"not registered")) +
          L"\n");
  if (s.wordVersion.empty()) {
    Print(L"  Word's disabled and startup items: not known without a recorded version\n");
  } else {
    PrintList(L"DisabledItems", s.disabledItems);
    PrintList(L"StartupItems", s.startupItems);
  }
  Print(L"  PermanentlyDisableAddin: " + Or(s.permanentlyDisableAddin, L"not set") +
        (s.permanentlyDisableAddin == L"1" ? L" (the add-in stays off)" : L"") + L"\n");
  Print(L"  FailedWord2000Check: " + Or(s.failedWord2000Check, L"not set") +
        (s.failedWord2000Check == L"1" ? L" (the next launch checks for Word 2000 or later)" : L"") + L"\n");
  Print(L"  template source: " + s.templateSource + L"\n");
  for (const Copy& c : s.copies)
    Print(L"  template copy " + c.file + L": " + c.state + (c.used ? L" (used by this Word)" : L"") +
          (c.sourceExists ? L"" : L"; no source file") + L"\n");
}

int Usage() {
  Print(L"usage: tamberlux launch NAME [--no-macro]\n       tamberlux status NAME [--json]\n", stderr);
  return kUsage;
}

}  // namespace

int Run(int argc, wchar_t** argv) {
  if (argc < 3 || argv[2][0] == L'\0' || argv[2][0] == L'-') return Usage();
  const std::wstring command = argv[1], name = argv[2];
  bool json = false, noMacro = false;
  for (int i = 3; i < argc; ++i) {
    const std::wstring option = argv[i];
    if (command == L"status" && option == L"--json") json = true;
    else if (command == L"launch" && option == L"--no-macro") noMacro = true;
    else return Usage();
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int code = kUsage;
  if (command == L"launch") {
    code = Launch(name, !noMacro);
  } else if (command == L"status") {
    vbw::vbwInitializeProtector();
    const Status s = ReadStatus(name);
    json ? PrintJson(s) : PrintText(s);
    code = kDone;
  } else {
    code = Usage();
  }
  CommonWordInteractionFunctions::Terminate();
  CoUninitialize();
  return code;
}

}  // namespace tamberlux

int wmain(int argc, wchar_t** argv) { return tamberlux::Run(argc, argv); }
