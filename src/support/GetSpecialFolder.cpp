#include "support/GetSpecialFolder.h"

#include <windows.h>
#include <shlobj.h>

#include "errortrap/Procedure.h"

namespace tamberlux::GetSpecialFolder {

using vbw::Var;

std::wstring fGetSpecialFolder(int32_t& CSIDL) {
  std::wstring result;
  vbw::Proc p(L"GetSpecialFolder.fGetSpecialFolder", vbw::BannerOnly, {Var(L"CSIDL", CSIDL)});
  std::wstring path;
  p.Local(L"path", path);
  p.Run([&] {
    wchar_t buffer[MAX_PATH + 1] = {};
    HRESULT hr = E_FAIL;
    p(101, [&] { path.assign(MAX_PATH, L'\0'); });
    p(102, [&] { hr = SHGetFolderPathW(nullptr, CSIDL, reinterpret_cast<HANDLE>(-1), 0, buffer); });
    // The wide form: a user's folder holds the user's name, which the ANSI
    // code page may not have.
    if (hr == S_OK) {
      p(103, [&] { result = std::wstring(buffer) + L"\\"; });
      return;
    }
    if (CSIDL == CSIDL_PROGRAM_FILES_COMMON) {
      p(104, [&] { result = L"c:\\Progra~1\\Common\\"; });
    } else if (CSIDL == CSIDL_PROGRAM_FILES) {
      p(105, [&] { result = L"c:\\Progra~1\\"; });
    } else {
      p(106, [&] { MessageBoxW(nullptr, L"Could not get special folder", L"Tamberlux", MB_OK); });
      p(107, [&] { result = path; });
    }
  });
  return result;
}

}  // namespace tamberlux::GetSpecialFolder
