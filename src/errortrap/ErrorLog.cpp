#include "errortrap/ErrorLog.h"

#include <windows.h>
#include <shlobj.h>

#include <cwchar>

#include "base/ComTypes.h"
#include "base/Text.h"

namespace tamberlux::vbw::ErrorLog {

namespace {

std::wstring JsonArray(const std::vector<std::wstring>& items) {
  std::wstring out = L"[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? L", " : L"") + JsonString(items[i]);
  return out + L"]";
}

std::wstring Now() {
  SYSTEMTIME t;
  GetSystemTime(&t);
  wchar_t text[32];
  swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
  return text;
}

}  // namespace


std::wstring Folder() {
  wchar_t base[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, base)))
    return {};
  std::wstring folder = std::wstring(base) + L"\\Valdomeren";
  CreateDirectoryW(folder.c_str(), nullptr);
  folder += L"\\Tamberlux";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder + L"\\";
}

std::wstring Path() {
  const std::wstring folder = Folder();
  return folder.empty() ? folder : folder + L"errors.log";
}

std::wstring ToJson(const Report& r) {
  return L"{\"time\": " + JsonString(Now()) + L", \"process\": " + std::to_wstring(GetCurrentProcessId()) +
         L", \"project\": " + JsonString(r.project) + L", \"module\": " + JsonString(r.module) +
         L", \"procedure\": " + JsonString(r.procedure) + L", \"number\": " + std::to_wstring(r.number) +
         L", \"description\": " + JsonString(r.description) + L", \"line\": " + std::to_wstring(r.line) +
         L", \"stack\": " + JsonArray(r.stack) + L", \"parameters\": " + JsonArray(r.parameters) +
         L", \"dump\": " + JsonArray(r.dump) + L", \"reporter\": " + JsonString(r.reporter) +
         (r.ignored ? L", \"ignored\": true}" : L"}");
}

void Write(const Report& report) noexcept {
  try {
    const std::wstring path = Path();
    if (path.empty()) return;
    const std::string line = ToUtf8(ToJson(report)) + "\r\n";
    // Another process may write at the same moment: a named mutex per user
    // keeps rotation and append whole.
    Handle lock(CreateMutexW(nullptr, FALSE, L"Local\\Tamberlux.errors.log"));
    const bool locked = lock.Get() && WaitForSingleObject(lock.Get(), 2000) != WAIT_TIMEOUT;
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info) &&
        ((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow) + line.size() > kMaxBytes)
      MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING);
    Handle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
      DWORD written = 0;
      WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    if (locked) ReleaseMutex(lock.Get());
  } catch (...) {
    // The log never fails the caller.
  }
}

}  // namespace tamberlux::vbw::ErrorLog
