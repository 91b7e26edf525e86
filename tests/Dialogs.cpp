// A message box as a user sees it, read by DialogReader.exe from outside the
// process that shows it.
#include "TestSupport.h"

namespace tamberlux::test {

DialogWatch::DialogWatch(const std::wstring& watchClass, int press, DWORD timeoutMs)
    : DialogWatch(Options{L"--press " + std::to_wstring(press) + (watchClass.empty() ? L"" : L" --watch " + watchClass)},
                  timeoutMs) {}

DialogWatch::DialogWatch(const Options& options, DWORD timeoutMs) {
  static std::atomic<int> watches{0};
  const std::wstring stop = L"TamberluxDialogWatch." + std::to_wstring(GetCurrentProcessId()) + L"." + std::to_wstring(++watches);
  stop_.Reset(CreateEventW(nullptr, TRUE, FALSE, stop.c_str()));
  const std::wstring cmd = L"\"" + BinDir() + L"DialogReader.exe\" --timeout " + std::to_wstring(timeoutMs) +
                           L" --stop-event " + stop + L" " + options.text;
  reader_ = std::thread([this, cmd, timeoutMs] {
    output_ = Run(cmd, timeoutMs + 60000).Text();
    done_ = true;
  });
}

DialogWatch::~DialogWatch() { if (reader_.joinable()) reader_.join(); }

DialogWatch::Seen DialogWatch::ResultWhile(HANDLE process) {
  bool ended = false;
  WaitUntil([&] { return done_ || (ended = WaitForSingleObject(process, 0) != WAIT_TIMEOUT); }, INFINITE);
  return Result(ended);
}

std::wstring DialogWatch::Output(bool chanceOver) {
  if (chanceOver) SetEvent(stop_.Get());
  if (reader_.joinable()) reader_.join();
  return output_;
}

DialogWatch::Seen DialogWatch::Result(bool chanceOver) {
  const auto fields = Split(Output(chanceOver), L'\0');
  Seen seen;
  for (size_t i = 0; i + 1 < fields.size(); i += 2) {
    const std::wstring& value = fields[i + 1];
    if (fields[i] == L"title") seen.appeared = true, seen.title = value;
    if (fields[i] == L"text") seen.text = value;
    if (fields[i] == L"style") seen.style = value;
    if (fields[i] == L"left") seen.watchedLeft = std::wcstol(value.c_str(), nullptr, 10);
    if (fields[i] == L"visible") seen.watchedVisible = value == L"1";
  }
  return seen;
}

}  // namespace tamberlux::test
