#include "support/GetSpecialFolder.h"

#include <windows.h>
#include <shlobj.h>

#include "errortrap/Procedure.h"
#include "base/Text.h"

namespace tamberlux::GetSpecialFolder {

using vbw::Var;

std::wstring fGetSpecialFolder(int32_t& CSIDL) {
  std::wstring result;
  vbw::Proc p(L"GetSpecialFolder.fGetSpecialFolder", vbw::BannerOnly, {Var(L"CSIDL", CSIDL)});
  std::wstring path;
  p.Local(L"path", path);
  p.Run([&] {
    char buffer[MAX_PATH + 1] = {};
    HRESULT hr = E_FAIL;
    p(101, [&] { path.assign(MAX_PATH, L'\0'); });
    p(102, [&] { hr = SHGetFolderPathA(nullptr, CSIDL, reinterpret_cast<HANDLE>(-1), 0, buffer); });
    if (hr == S_OK) {
      p(103, [&] { result = FromAnsi(buffer, strlen(buffer)) + L"\\"; });
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
