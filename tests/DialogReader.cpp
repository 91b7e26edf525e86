// Reads the message box another process shows, as a user would see it, then
// presses one of its buttons. Writes NUL-separated fields: "title", its title,
// "text", its text and, with --watch CLASS, "left" and "visible" of the first
// window of that class while the box is up. Writes nothing when no box
// appears in time.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "base/Text.h"

int wmain(int argc, wchar_t** argv) {
  std::wstring watch;
  int press = IDOK;
  DWORD timeoutMs = 30000;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::wcscmp(argv[i], L"--watch") == 0) watch = argv[i + 1];
    if (std::wcscmp(argv[i], L"--press") == 0) press = _wtoi(argv[i + 1]);
    if (std::wcscmp(argv[i], L"--timeout") == 0) timeoutMs = static_cast<DWORD>(_wtoi(argv[i + 1]));
  }
  HWND box = nullptr;
  for (DWORD waited = 0; waited < timeoutMs && !box; waited += 20) {
    box = FindWindowW(L"#32770", nullptr);
    if (!box || !IsWindowVisible(box)) box = nullptr, Sleep(20);
  }
  if (!box) return 1;
  Sleep(100);  // let the box finish laying out its text
  wchar_t title[512] = {}, text[2048] = {};
  GetWindowTextW(box, title, 512);
  GetDlgItemTextW(box, 0xFFFF, text, 2048);
  std::wstring out = std::wstring(L"title") + L'\0' + title + L'\0' + L"text" + L'\0' + text + L'\0';
  if (HWND watched = watch.empty() ? nullptr : FindWindowW(watch.c_str(), nullptr)) {
    RECT r{};
    GetWindowRect(watched, &r);
    out += std::wstring(L"left") + L'\0' + std::to_wstring(r.left) + L'\0' + L"visible" + L'\0' +
           (IsWindowVisible(watched) ? L"1" : L"0") + L'\0';
  }
  const std::string utf8 = tamberlux::ToUtf8(out);
  _setmode(_fileno(stdout), _O_BINARY);  // the texts keep their own line breaks
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), 0);
  return 0;
}
