// What the dependency installer meets: machine-wide values, the stand-in download server on 127.0.0.1.
#pragma once

#include <algorithm>
#include <cwchar>
#include <filesystem>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "base/Text.h"
#include "base/VbError.h"
#include "installer/InfraGroups.h"

namespace tamberlux::test {

// Sets a value under HKEY_LOCAL_MACHINE: text, or with REG_DWORD the number it spells.
inline LONG SetMachineValue(const std::wstring& key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
  const DWORD number = std::wcstoul(text.c_str(), nullptr, 10), size = static_cast<DWORD>((text.size() + 1) * 2);
  const void* data = type == REG_DWORD ? static_cast<const void*>(&number) : text.c_str();
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, type, data, type == REG_DWORD ? 4 : size);
}

// Tells a Word to quit; one that has gone already is no failure.
inline void Quit(const LateObject& word) {
  try {
    word.Call(L"Quit");
  } catch (const vb::Error&) {
  }
}

// A folder of the case's own where the download server and the stand-in installer leave what they saw, and the
// installer's settings naming that server and nothing else. The server answers as `mode` says (ok, 404, wrong, slow)
// and serves the stand-in installer as each installer the product asks for. Afterwards the server ends, and the
// folder and all settings go.
struct DownloadStage {
  DownloadStage(const wchar_t* prefix, const char* mode)
      : dir(ScratchDir() + prefix + L"." + std::to_wstring(GetCurrentProcessId()) + L"\\") {
    CreateDirectoryW(dir.c_str(), nullptr);
    ForgetSettings();
    SetMachineValue(standin::kInstallerKey, L"Log", dir + L"runs.log");
    const auto unix = [](std::wstring path) {  // Z: is the Unix root
      std::replace(path.begin(), path.end(), L'\\', L'/');
      return path.substr(2);
    };
    std::wstring command = L"/usr/bin/python3 " TAMBERLUX_DOWNLOAD_SERVER L" " + unix(dir) + L" " + FromUtf8(mode);
    std::vector<std::wstring> served{InfraGroups::kScripting98MePath};
    for (const auto& group : InfraGroups::All()) served.push_back(group.installerPath);
    for (const auto& path : served) command += L" " + path + L"=" + unix(StandIn());
    Start(command);  // it ends by itself
    // Python starts slowly on a machine busy with other tests: a server that never says its port leaves the address
    // and the pins empty, which the case then reports.
    WaitUntil([&] { return !Read(L"port").empty(); }, 60000);
    address = L"http://127.0.0.1:" + FromUtf8(Read(L"port"));
    SetMachineValue(WordKeys::kInstallerKey, WordKeys::kDownloadServer, address);
  }
  ~DownloadStage() {
    DeleteFileW((dir + L"port").c_str());  // and the server ends
    ForgetSettings();
    std::error_code kept;
    std::filesystem::remove_all(std::filesystem::path(dir), kept);
  }
  static std::wstring StandIn() { return BinDir() + L"InstallerStandIn.exe"; }
  static void ForgetSettings() {
    for (const wchar_t* key : {standin::kInstallerKey, WordKeys::kInstallerKey, WordKeys::kInstallerPolicyKey})
      RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
  }
  // A file the server wrote ("port", "requests", "sha256"), or "" when there is none.
  std::string Read(const wchar_t* name) const {
    const std::string bytes = ReadWholeFile(dir + name);
    return bytes == "<missing>" ? "" : bytes;
  }
  // The SHA-256 the server published for `path`, as its installer's pin.
  std::wstring Pin(const std::string& path) const {
    const std::string pins = Read(L"sha256");  // each "path hex"
    const size_t at = pins.find(path + " ");
    return at == std::string::npos ? L"" : FromUtf8(pins.substr(at + path.size() + 1, 64));
  }
  // Each run of the stand-in installer: its process id, command line and program.
  std::vector<std::vector<std::wstring>> InstallerRuns() const {
    const std::string bytes = Read(L"runs.log");
    std::vector<std::vector<std::wstring>> runs;
    for (const auto& line : Split(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2), L'\n'))
      if (!line.empty()) runs.push_back(Split(line, L'\t'));
    return runs;
  }

  const std::wstring dir;
  std::wstring address;
};

}  // namespace tamberlux::test
