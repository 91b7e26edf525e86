// Reads the message box another process shows, as a user would see it, then
// presses one of its buttons. Writes NUL-separated fields: "title", its title,
// "text", its text and, with --watch CLASS, "left" and "visible" of the first
// window of that class while the box is up. Writes nothing when no box
// appears in time.
//
// With --form it reads a dialog of the product's own instead: "owner" and
// "ownertitle" (its owner window and that window's title), "foreground",
// "dpi", "client" (WxH), one "control" per child in stacking order
// ("class|tab or -|x,y,w,h|text"), one "tooltip" per tool ("control text|tip
// text") and "focus" (the focused control's text). Then:
//   --picture FILE   saves what the screen shows of the dialog as a bitmap
//   --keys K,K,...   types tab, shift+tab, return or escape, and after each key
//                    writes the focused control's text as another "focus"
//   --close          clicks the close box
//   --then-none MS   afterwards waits MS for another box: "another", its title
#include <windows.h>
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>

namespace {

std::wstring out;
void Field(const wchar_t* name, const std::wstring& value) { out += std::wstring(name) + L'\0' + value + L'\0'; }

HWND FindBox(DWORD timeoutMs, HWND not_ = nullptr) {
  for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
    HWND box = FindWindowW(L"#32770", nullptr);
    if (box && box != not_ && IsWindowVisible(box)) return box;
    Sleep(20);
  }
  return nullptr;
}

std::wstring TextOf(HWND w) {
  wchar_t text[2048] = {};
  GetWindowTextW(w, text, 2048);
  return text;
}

HWND Focused(HWND box) {
  GUITHREADINFO info{sizeof(info)};
  return GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &info) ? info.hwndFocus : nullptr;
}

// The tools of the dialog's tooltip windows, read through memory lent by the
// dialog's process (a tooltip answers only with pointers into its own process).
void ReadTooltips(HWND box) {
  DWORD pid = 0;
  const DWORD thread = GetWindowThreadProcessId(box, &pid);
  HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return;
  auto* remote = static_cast<BYTE*>(VirtualAllocEx(process, nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
  std::pair<HANDLE, BYTE*> lent(process, remote);
  EnumThreadWindows(
      thread,
      [](HWND tip, LPARAM context) -> BOOL {
        wchar_t cls[64] = {};
        GetClassNameW(tip, cls, 64);
        if (std::wcscmp(cls, TOOLTIPS_CLASSW) != 0) return TRUE;
        auto [process, remote] = *reinterpret_cast<std::pair<HANDLE, BYTE*>*>(context);
        const LRESULT count = SendMessageW(tip, TTM_GETTOOLCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
          TTTOOLINFOW tool{};
          tool.cbSize = TTTOOLINFOW_V2_SIZE;
          tool.lpszText = reinterpret_cast<wchar_t*>(remote + 1024);
          wchar_t text[3000] = {};
          WriteProcessMemory(process, remote, &tool, sizeof(tool), nullptr);
          WriteProcessMemory(process, remote + 1024, text, sizeof(text), nullptr);
          SendMessageW(tip, TTM_ENUMTOOLSW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(remote));
          ReadProcessMemory(process, remote, &tool, sizeof(tool), nullptr);
          ReadProcessMemory(process, remote + 1024, text, sizeof(text) - sizeof(wchar_t), nullptr);
          const HWND control = (tool.uFlags & TTF_IDISHWND) ? reinterpret_cast<HWND>(tool.uId) : nullptr;
          Field(L"tooltip", TextOf(control) + L"|" + text);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&lent));
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
}

UINT DpiOf(HWND box);

void ReadForm(HWND box) {
  HWND owner = GetWindow(box, GW_OWNER);
  Field(L"owner", std::to_wstring(reinterpret_cast<intptr_t>(owner)));
  Field(L"ownertitle", owner ? TextOf(owner) : L"");
  Field(L"foreground", GetForegroundWindow() == box ? L"1" : L"0");
  Field(L"dpi", std::to_wstring(DpiOf(box)));
  RECT client{};
  GetClientRect(box, &client);
  Field(L"client", std::to_wstring(client.right) + L"x" + std::to_wstring(client.bottom));
  for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
    wchar_t cls[64] = {};
    GetClassNameW(c, cls, 64);
    RECT r{};
    GetWindowRect(c, &r);
    MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&r), 2);
    Field(L"control", std::wstring(cls) + L"|" + ((GetWindowLongW(c, GWL_STYLE) & WS_TABSTOP) ? L"tab" : L"-") +
                          L"|" + std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," +
                          std::to_wstring(r.right - r.left) + L"," + std::to_wstring(r.bottom - r.top) + L"|" +
                          TextOf(c));
  }
  ReadTooltips(box);
  Field(L"focus", TextOf(Focused(box)));
}

// The DPI of the monitor the dialog is on, as a per-monitor aware program sees it.
UINT DpiOf(HWND box) {
  HMODULE shcore = LoadLibraryW(L"shcore.dll");
  auto forMonitor = reinterpret_cast<HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*)>(
      reinterpret_cast<void*>(shcore ? GetProcAddress(shcore, "GetDpiForMonitor") : nullptr));
  UINT x = 0, y = 0;
  if (!forMonitor || FAILED(forMonitor(MonitorFromWindow(box, MONITOR_DEFAULTTONEAREST), 0, &x, &y))) {
    HDC screen = GetDC(nullptr);
    y = static_cast<UINT>(GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
  }
  return y;
}

// "{dpi}" in the file name becomes the dialog's DPI.
void SavePicture(HWND box, std::wstring path) {
  if (const size_t at = path.find(L"{dpi}"); at != std::wstring::npos) path.replace(at, 5, std::to_wstring(DpiOf(box)));
  RECT r{};
  GetWindowRect(box, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  BITMAPINFOHEADER header{sizeof(header), w, h, 1, 24, BI_RGB};
  void* bits = nullptr;
  HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  const DWORD size = static_cast<DWORD>(((w * 3 + 3) & ~3) * h);
  BITMAPFILEHEADER file{0x4D42, static_cast<DWORD>(sizeof(file) + sizeof(header) + size), 0, 0,
                        sizeof(file) + sizeof(header)};
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(f, &file, sizeof(file), &written, nullptr);
  WriteFile(f, &header, sizeof(header), &written, nullptr);
  WriteFile(f, bits, size, &written, nullptr);
  CloseHandle(f);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
}

// Types one key as the keyboard would: to whatever window has the focus.
void Type(const std::wstring& key) {
  const bool shift = key.rfind(L"shift+", 0) == 0;
  const std::wstring name = shift ? key.substr(6) : key;
  const WORD vk = name == L"tab" ? VK_TAB : name == L"return" ? VK_RETURN : VK_ESCAPE;
  INPUT in[4] = {};
  int n = 0;
  auto add = [&](WORD k, DWORD flags) { in[n].type = INPUT_KEYBOARD, in[n].ki.wVk = k, in[n++].ki.dwFlags = flags; };
  if (shift) add(VK_SHIFT, 0);
  add(vk, 0);
  add(vk, KEYEVENTF_KEYUP);
  if (shift) add(VK_SHIFT, KEYEVENTF_KEYUP);
  SendInput(n, in, sizeof(INPUT));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetProcessDPIAware();  // the dialog's own pixels, whatever its DPI
  std::wstring watch, picture, keys;
  int press = IDOK;
  DWORD timeoutMs = 30000, thenNone = 0;
  bool form = false, close = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring a = argv[i], next = i + 1 < argc ? argv[i + 1] : L"";
    if (a == L"--form") form = true;
    if (a == L"--close") close = true;
    if (a == L"--watch") watch = next;
    if (a == L"--picture") picture = next;
    if (a == L"--keys") keys = next;
    if (a == L"--press") press = _wtoi(next.c_str());
    if (a == L"--timeout") timeoutMs = static_cast<DWORD>(_wtoi(next.c_str()));
    if (a == L"--then-none") thenNone = static_cast<DWORD>(_wtoi(next.c_str()));
  }
  HWND box = FindBox(timeoutMs);
  if (!box) return 1;
  Sleep(300);  // let the box finish laying out its text and coming forward
  wchar_t text[2048] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 2048);
  Field(L"title", TextOf(box));
  if (!form) Field(L"text", text);
  if (HWND watched = watch.empty() ? nullptr : FindWindowW(watch.c_str(), nullptr)) {
    RECT r{};
    GetWindowRect(watched, &r);
    Field(L"left", std::to_wstring(r.left));
    Field(L"visible", IsWindowVisible(watched) ? L"1" : L"0");
  }
  if (form) ReadForm(box);
  if (!picture.empty()) SavePicture(box, picture);
  if (!keys.empty()) {
    for (size_t start = 0; start <= keys.size();) {
      const size_t end = std::min(keys.find(L',', start), keys.size());
      Type(keys.substr(start, end - start));
      Sleep(200);
      Field(L"focus", IsWindow(box) ? TextOf(Focused(box)) : L"(closed)");
      start = end + 1;
    }
  } else if (close) {
    PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
  } else {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), 0);
  }
  if (thenNone) {
    for (DWORD waited = 0; IsWindow(box) && waited < 10000; waited += 20) Sleep(20);
    if (HWND another = FindBox(thenNone)) {
      Field(L"another", TextOf(another));
      PostMessageW(another, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
  }
  std::string utf8(out.size() * 3, '\0');
  utf8.resize(WideCharToMultiByte(CP_UTF8, 0, out.data(), static_cast<int>(out.size()), utf8.data(),
                                  static_cast<int>(utf8.size()), nullptr, nullptr));
  _setmode(_fileno(stdout), _O_BINARY);  // the texts keep their own line breaks
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
  return 0;
}
