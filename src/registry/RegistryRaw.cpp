#include "registry/RegistryRaw.h"

#include "base/ComTypes.h"

namespace tamberlux::RegistryRaw {

std::optional<Value> Read(HKEY root, const std::wstring& path, const std::wstring& name) {
  RegKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return std::nullopt;
  Value v;
  DWORD size = 0;
  if (RegQueryValueExW(key.Get(), name.c_str(), nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS)
    return std::nullopt;
  v.data.resize(size);
  if (RegQueryValueExW(key.Get(), name.c_str(), nullptr, &v.type, v.data.data(), &size) != ERROR_SUCCESS)
    return std::nullopt;
  v.data.resize(size);
  return v;
}

LONG WriteText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
  if (path.find(L'\0') != std::wstring::npos) return ERROR_INVALID_PARAMETER;
  RegKey key;
  LONG rc = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, key.Put(), nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  return RegSetValueExW(key.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LONG DeleteTree(HKEY root, const std::wstring& path) {
  if (path.empty() || path.find(L'\0') != std::wstring::npos) return ERROR_INVALID_PARAMETER;
  return RegDeleteTreeW(root, path.c_str());
}

std::optional<DWORD> ValueCount(HKEY root, const std::wstring& path) {
  RegKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return std::nullopt;
  DWORD count = 0;
  if (RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return std::nullopt;
  return count;
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path) {
  std::vector<std::wstring> names;
  RegKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return names;
  for (DWORD i = 0;; ++i) {
    wchar_t name[16384];
    DWORD length = 16384;
    if (RegEnumValueW(key.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  return names;
}

}  // namespace tamberlux::RegistryRaw
