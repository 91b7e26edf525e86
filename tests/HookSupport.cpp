#include "HookSupport.h"

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "installer/InfraGroups.h"
#include "support/UtilityFunctions.h"

namespace tamberlux::test {

namespace {
constexpr wchar_t kClasses[] = L"Software\\Classes\\";
}

PresentLibraries::PresentLibraries(const std::wstring& productName, const std::vector<std::wstring>& programDlls) {
  wchar_t system[MAX_PATH];
  GetSystemDirectoryW(system, MAX_PATH);
  for (const auto& group : InfraGroups::All()) {
    for (const wchar_t* file : group.fileNames) File(std::wstring(system) + L"\\" + file);
    for (const wchar_t* progId : group.progIds) ProgId(progId);
  }
  const std::wstring folder = UtilityFunctions::SRC_PATH(productName);
  for (const auto& dll : programDlls) {
    File(folder + dll);
    ProgId(InfraGroups::ProgIdOfProgramDll(dll));
  }
}

PresentLibraries::~PresentLibraries() {
  for (const auto& f : files_) DeleteFileW(f.c_str());
  for (const auto& p : progIds_) RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kClasses + p).c_str());
}

void PresentLibraries::File(const std::wstring& path) {
  if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE) << "cannot put " << std::string(path.begin(), path.end());
  CloseHandle(f);
  files_.push_back(path);
}

void PresentLibraries::ProgId(const std::wstring& progId) {
  CLSID clsid;
  if (CLSIDFromProgID(progId.c_str(), &clsid) == S_OK) return;
  // A class identifier of the ProgID's own, as its DLL would register it.
  GUID id;
  ASSERT_EQ(CoCreateGuid(&id), S_OK);
  wchar_t text[64];
  StringFromGUID2(id, text, 64);
  const std::wstring key = kClasses + progId + L"\\CLSID";
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), nullptr, REG_SZ, text,
                            static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  progIds_.push_back(progId);
  ASSERT_EQ(CLSIDFromProgID(progId.c_str(), &clsid), S_OK) << "the ProgID resolves";
}

}  // namespace tamberlux::test
