// What the dependency installer meets, for a test: machine-wide values, and
// the stand-in download server (testbed/DownloadServer.py) on 127.0.0.1.
#pragma once

#include <algorithm>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "base/Text.h"

namespace tamberlux::test {

// Sets a value under HKEY_LOCAL_MACHINE: text, or with REG_DWORD the number it spells.
inline LONG SetMachineValue(const std::wstring& key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
  const DWORD number = std::wcstoul(text.c_str(), nullptr, 10), size = static_cast<DWORD>((text.size() + 1) * 2);
  const void* data = type == REG_DWORD ? static_cast<const void*>(&number) : text.c_str();
  return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, type, data, type == REG_DWORD ? 4 : size);
}

// Starts the server: it answers as `mode` says (ok, 404, wrong, slow), serves
// each server path from the file mapped to it, writes "port", "requests" and
// "sha256" into `stage`, and ends when "port" is deleted. Its address, once
// it listens (within 10 s).
inline std::wstring StartDownloadServer(const std::wstring& stage, const char* mode,
                                        const std::vector<std::pair<std::wstring, std::wstring>>& served) {
  const auto unix = [](std::wstring path) {  // Z: is the Unix root
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return path.substr(2);
  };
  std::wstring command = L"/usr/bin/python3 " TAMBERLUX_DOWNLOAD_SERVER L" " + unix(stage) + L" " + FromUtf8(mode);
  for (const auto& [path, file] : served) command += L" " + path + L"=" + unix(file);
  Start(command);  // it ends by itself
  WaitUntil([&] { return ReadWholeFile(stage + L"port") != "<missing>"; });
  return L"http://127.0.0.1:" + FromUtf8(ReadWholeFile(stage + L"port"));
}

}  // namespace tamberlux::test
