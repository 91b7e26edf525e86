// Reads the message box another process shows, as a user would see it, then presses button --press ID.
// Writes NUL-separated fields: "title", "text", "style" (the buttons' texts, then ", icon" when one shows) and, with --watch CLASS, "left" and "visible" of that class's
// first window; nothing when no box appears in time. --form reads a dialog of the product's instead: "owner",
// "ownertitle", "foreground", "dpi", a "control" per child in stacking order ("class|tab or -|text") with its
// "rect" on the screen ("left,top,right,bottom"), the "client" area and its monitor's "screen", a "tooltip" per
// tool ("control|tip") and "focus". --picture FILE saves it as a bitmap ("{dpi}" in FILE becomes its DPI);
// --keys tab,shift+tab,return,space,escape types keys, writing "focus" after each; --close clicks its close box;
// --close-owner first closes its owner (Word quitting under it); --then-none MS then writes "another": the
// title of a box that follows. --stop-event NAME: once that event is set, no box can come any more, and the reader
// stops looking for one (the first or the one that follows).
#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "base/ComTypes.h"
#include "base/Text.h"
#include "support/MessageLoop.h"

namespace {

std::wstring out;
void Field(const wchar_t* name, const std::wstring& value) { out += name + (L'\0' + value) + L'\0'; }

using tamberlux::PumpMessagesUntil;

// The first visible box, looked for until `timeoutMs` pass or `stop` (the
// watcher's event: the chance for a box has ended) is set.
HWND FindBox(DWORD timeoutMs, HANDLE stop = nullptr) {
  HWND box = nullptr;
  PumpMessagesUntil([&] {
    // Past any hidden dialog: one above the box would otherwise hide it for good.
    for (box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", nullptr));)
      if (IsWindowVisible(box)) return true;
    return stop && WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
  }, timeoutMs);
  return box;
}

std::wstring TextOf(HWND w) {
  wchar_t text[2048] = {};
  GetWindowTextW(w, text, 2048);
  return text;
}

std::wstring FocusOf(HWND box) {
  GUITHREADINFO info{sizeof(info)};
  if (!IsWindow(box) || !IsWindowVisible(box)) return L"(closed)";  // gone from the screen
  // The box itself holds the focus only for a moment, as it closes: no control has it.
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &info) || info.hwndFocus == box) return L"";
  return TextOf(info.hwndFocus);
}

// A tooltip answers with pointers into its own process: the text is read
// through memory lent by the dialog's process.
void ReadTooltips(HWND box) {
  DWORD pid = 0;
  GetWindowThreadProcessId(box, &pid);
  const tamberlux::Handle owner(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
  const HANDLE process = owner.Get();
  auto* lent = static_cast<BYTE*>(VirtualAllocEx(process, nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
  for (HWND tip = nullptr; (tip = FindWindowExW(HWND_DESKTOP, tip, TOOLTIPS_CLASSW, nullptr));) {
    if (GetWindow(tip, GW_OWNER) != box) continue;
    for (LRESULT i = 0, n = SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0); i < n; ++i) {
      TTTOOLINFOW tool{TTTOOLINFOW_V2_SIZE};
      tool.lpszText = reinterpret_cast<wchar_t*>(lent + 1024);
      wchar_t text[3000] = {};
      WriteProcessMemory(process, lent, &tool, sizeof(tool), nullptr);
      WriteProcessMemory(process, lent + 1024, text, sizeof(text), nullptr);
      SendMessageW(tip, TTM_ENUMTOOLSW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(lent));
      ReadProcessMemory(process, lent, &tool, sizeof(tool), nullptr);
      ReadProcessMemory(process, lent + 1024, text, sizeof(text) - 2, nullptr);
      Field(L"tooltip", TextOf(reinterpret_cast<HWND>(tool.uId)) + L"|" + text);
    }
  }
  VirtualFreeEx(process, lent, 0, MEM_RELEASE);
}

std::wstring TextOf(const RECT& r) {
  return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," + std::to_wstring(r.right) + L"," +
         std::to_wstring(r.bottom);
}

void ReadForm(HWND box) {
  HWND owner = GetWindow(box, GW_OWNER);
  Field(L"owner", std::to_wstring(reinterpret_cast<intptr_t>(owner)));
  Field(L"ownertitle", TextOf(owner));
  Field(L"foreground", GetForegroundWindow() == box ? L"1" : L"0");
  // The DPI the dialog's process draws at, as a DPI-aware program sees it.
  Field(L"dpi", std::to_wstring(GetDeviceCaps(tamberlux::WindowDC(nullptr).Get(), LOGPIXELSY)));
  RECT client{};
  GetClientRect(box, &client);
  MapWindowPoints(box, nullptr, reinterpret_cast<POINT*>(&client), 2);
  Field(L"client", TextOf(client));
  MONITORINFO monitor{sizeof(monitor)};
  GetMonitorInfoW(MonitorFromWindow(box, MONITOR_DEFAULTTONEAREST), &monitor);
  Field(L"screen", TextOf(monitor.rcMonitor));
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    wchar_t cls[64] = {};
    GetClassNameW(c, cls, 64);
    Field(L"control", cls + std::wstring((GetWindowLongW(c, GWL_STYLE) & WS_TABSTOP) ? L"|tab|" : L"|-|") + TextOf(c));
    RECT r{};
    GetWindowRect(c, &r);
    Field(L"rect", TextOf(r));
  }
  ReadTooltips(box);
  Field(L"focus", FocusOf(box));
}

void SavePicture(HWND box, std::wstring path) {
  RECT r{};
  GetWindowRect(box, &r);
  BITMAPINFOHEADER header{sizeof(header), r.right - r.left, r.bottom - r.top, 1, 24, BI_RGB};
  const DWORD size = static_cast<DWORD>(((header.biWidth * 3 + 3) & ~3) * header.biHeight);
  BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(file) + sizeof(header) + size), 0, 0, sizeof(file) + sizeof(header)};
  void* bits = nullptr;
  const tamberlux::WindowDC screenDC(nullptr);
  HDC screen = screenDC.Get(), memory = CreateCompatibleDC(screen);
  if (const size_t at = path.find(L"{dpi}"); at != std::wstring::npos)
    path.replace(at, 5, std::to_wstring(GetDeviceCaps(screen, LOGPIXELSY)));
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, header.biWidth, header.biHeight, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  if (FILE* f = _wfopen(path.c_str(), L"wb")) {
    std::fwrite(&file, sizeof(file), 1, f), std::fwrite(&header, sizeof(header), 1, f), std::fwrite(bits, size, 1, f);
    std::fclose(f);
  }
  DeleteObject(SelectObject(memory, old));
  DeleteDC(memory);
}

// Types one key the way the keyboard does: to whichever window has the focus.
void Type(const std::wstring& key) {
  const bool shift = key.rfind(L"shift+", 0) == 0;
  const std::wstring name = key.substr(shift ? 6 : 0);
  const WORD vk = name == L"tab" ? VK_TAB : name == L"return" ? VK_RETURN : name == L"space" ? VK_SPACE : VK_ESCAPE;
  INPUT in[4] = {};
  const WORD sequence[4] = {VK_SHIFT, vk, vk, VK_SHIFT};
  for (int i = 0; i < 4; ++i)
    in[i].type = INPUT_KEYBOARD, in[i].ki.wVk = sequence[i], in[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
  SendInput(shift ? 4 : 2, shift ? in : in + 1, sizeof(INPUT));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetProcessDPIAware();  // the dialog's own pixels, whatever its DPI
  std::wstring watch, picture, keys;
  int press = IDOK;
  DWORD timeoutMs = 30000, thenNone = 0;
  bool form = false, close = false, closeOwner = false;
  tamberlux::Handle stop;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i], next = i + 1 < argc ? argv[i + 1] : L"";
    form |= a == L"--form", close |= a == L"--close", closeOwner |= a == L"--close-owner";
    if (a == L"--watch") watch = next;
    if (a == L"--picture") picture = next;
    if (a == L"--keys") keys = next + L",";
    if (a == L"--press") press = _wtoi(next.c_str());
    if (a == L"--timeout") timeoutMs = static_cast<DWORD>(_wtoi(next.c_str()));
    if (a == L"--stop-event") stop.Reset(OpenEventW(SYNCHRONIZE, FALSE, next.c_str()));
    if (a == L"--then-none") thenNone = static_cast<DWORD>(_wtoi(next.c_str()));
  }
  HWND box = FindBox(timeoutMs, stop.Get());
  if (!box) return 1;
  // Let the box come forward with its text in place (at most 5 s).
  PumpMessagesUntil([&] { return form ? GetForegroundWindow() == box : !TextOf(GetDlgItem(box, 0xFFFF)).empty(); },
                    5000);
  Field(L"title", TextOf(box));
  if (!form) {
    Field(L"text", TextOf(GetDlgItem(box, 0xFFFF)));
    // Its style as the user sees it: the buttons shown, and whether an icon is.
    std::wstring buttons;
    bool icon = false;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      wchar_t cls[16] = {};
      GetClassNameW(c, cls, 16);
      if (!IsWindowVisible(c)) continue;
      if (!_wcsicmp(cls, L"Button")) buttons += (buttons.empty() ? L"" : L"|") + TextOf(c);
      if (!_wcsicmp(cls, L"Static") && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
          SendMessageW(c, STM_GETICON, 0, 0))
        icon = true;
    }
    Field(L"style", buttons + (icon ? L", icon" : L""));
  }
  if (HWND watched = watch.empty() ? nullptr : FindWindowW(watch.c_str(), nullptr)) {
    RECT r{};
    GetWindowRect(watched, &r);
    Field(L"left", std::to_wstring(r.left));
    Field(L"visible", IsWindowVisible(watched) ? L"1" : L"0");
  }
  if (form) ReadForm(box);
  if (!picture.empty()) SavePicture(box, picture);
  if (HWND owner = closeOwner ? GetWindow(box, GW_OWNER) : nullptr; PostMessageW(owner, WM_CLOSE, 0, 0))
    PumpMessagesUntil([&] { return !IsWindow(owner); }, 5000);
  // Each key moves the focus to another control or closes the box; the reader
  // waits for that (at most 10 s), past the moments a closing box has no
  // focus or holds it itself.
  for (size_t at = 0, comma; (comma = keys.find(L',', at)) != std::wstring::npos; at = comma + 1) {
    const std::wstring before = FocusOf(box);
    Type(keys.substr(at, comma - at));
    PumpMessagesUntil([&] { return FocusOf(box) != before && !FocusOf(box).empty(); }, 10000);
    Field(L"focus", FocusOf(box));
  }
  if (keys.empty()) PostMessageW(box, close ? WM_SYSCOMMAND : WM_COMMAND, close ? SC_CLOSE : MAKEWPARAM(press, BN_CLICKED), 0);
  if (thenNone) PumpMessagesUntil([&] { return !IsWindow(box); }, 10000);
  if (HWND another = thenNone ? FindBox(thenNone, stop.Get()) : nullptr) {
    Field(L"another", TextOf(another));
    PostMessageW(another, WM_COMMAND, IDOK, 0);
  }
  const std::string utf8 = tamberlux::ToUtf8(out);
  _setmode(_fileno(stdout), _O_BINARY);  // the texts keep their own line breaks
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  return 0;
}
