// Reads the message box another process shows, as a user would see it, then
// presses one of its buttons. Prints "title\\t…", "text\\t…" and, with
// --watch CLASS, "watched\\t<left>\\t<visible>" for the first window of that
// class while the box is up; "none" when no box appeared in time.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {
// One line per field: CR and LF inside a text are written as \r and \n, a backslash as \\.
void Print(const std::wstring& raw) {
  std::wstring line;
  for (wchar_t c : raw) line += c == L'\\' ? L"\\\\" : c == L'\r' ? L"\\r" : c == L'\n' ? L"\\n" : std::wstring(1, c);
  std::string utf8(line.size() * 3 + 1, '\0');
  utf8.resize(WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), utf8.data(),
                                  static_cast<int>(utf8.size()), nullptr, nullptr));
  std::fputs((utf8 + "\n").c_str(), stdout);
}
}  // namespace

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
  for (DWORD waited = 0; waited < timeoutMs; waited += 20) {
    box = FindWindowW(L"#32770", nullptr);
    if (box && IsWindowVisible(box)) break;
    box = nullptr;
    Sleep(20);
  }
  if (!box) {
    Print(L"none");
    return 1;
  }
  Sleep(100);  // let the box finish laying out its text
  wchar_t title[512] = {}, text[2048] = {};
  GetWindowTextW(box, title, 512);
  GetDlgItemTextW(box, 0xFFFF, text, 2048);
  Print(std::wstring(L"title\t") + title);
  Print(std::wstring(L"text\t") + text);
  if (!watch.empty()) {
    HWND watched = FindWindowW(watch.c_str(), nullptr);
    RECT r{};
    if (watched) GetWindowRect(watched, &r);
    Print(L"watched\t" + std::to_wstring(r.left) + L"\t" + (watched && IsWindowVisible(watched) ? L"1" : L"0"));
  }
  std::fflush(stdout);
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(press, BN_CLICKED), 0);
  return 0;
}
