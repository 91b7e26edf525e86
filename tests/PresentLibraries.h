// The libraries the installation checks, made present for a test: the files
// and ProgIDs that were missing are added, and removed afterwards.
#pragma once

#include "TestSupport.h"
#include "installer/InfraGroups.h"
#include "support/UtilityFunctions.h"

namespace tamberlux::test {

struct PresentLibraries {
  explicit PresentLibraries(const wchar_t* name = L"Zentrello") {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    std::vector<std::pair<std::wstring, std::wstring>> all{{UtilityFunctions::SRC_PATH(name) + L"Example.dll", L"Example.Main2"}};
    for (const auto& group : InfraGroups::All())
      for (size_t i = 0; i < group.fileNames.size(); ++i) all.push_back({std::wstring(system) + L"\\" + group.fileNames[i], group.progIds[i]});
    const wchar_t id[] = L"{7A1C00FF-3B5E-4F60-9E21-5D8A6C0B10FF}";
    for (const auto& [file, progId] : all) {
      if (GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES) WriteWholeFile(file, ""), files.push_back(file);
      if (CLSID clsid; CLSIDFromProgID(progId.c_str(), &clsid) == S_OK) continue;
      RegSetKeyValueW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + progId + L"\\CLSID").c_str(), nullptr, REG_SZ, id, sizeof(id));
      progIds.push_back(progId);
    }
  }
  ~PresentLibraries() {
    for (const auto& f : files) DeleteFileW(f.c_str());
    for (const auto& p : progIds) RegDeleteTreeW(HKEY_LOCAL_MACHINE, (L"Software\\Classes\\" + p).c_str());
  }
  std::vector<std::wstring> files, progIds;
};

}  // namespace tamberlux::test
