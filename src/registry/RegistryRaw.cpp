#include "registry/RegistryRaw.h"

#include "base/ComTypes.h"

namespace tamberlux::RegistryRaw {

LONG Query(HKEY root, const std::wstring& path, const std::wstring& name, Value& out) {
  if (path.find(L'\0') != std::wstring::npos || name.find(L'\0') != std::wstring::npos) return ERROR_FILE_NOT_FOUND;
  RegKey key;
  LONG rc = RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE, key.Put());
  if (rc != ERROR_SUCCESS) return rc;
  // A value that grows between the two calls is asked for again.
  for (int tries = 0; tries < 4; ++tries) {
    DWORD size = 0;
    rc = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &out.type, nullptr, &size);
    if (rc != ERROR_SUCCESS) return rc;
    out.data.resize(size);
    rc = RegQueryValueExW(key.Get(), name.c_str(), nullptr, &out.type, out.data.data(), &size);
    if (rc == ERROR_MORE_DATA) continue;
    out.data.resize(size);
    return rc;
  }
  return rc;
}

std::optional<Value> Read(HKEY root, const std::wstring& path, const std::wstring& name) {
  Value v;
  if (Query(root, path, name, v) != ERROR_SUCCESS) return std::nullopt;
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
