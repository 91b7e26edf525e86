#include "registry/RegistryRaw.h"

#include "base/RegistryDoor.h"

namespace tamberlux::RegistryRaw {

namespace door = RegistryDoor;

LONG Query(HKEY root, const std::wstring& path, const std::wstring& name, Value& out) {
  if (path.find(L'\0') != std::wstring::npos || name.find(L'\0') != std::wstring::npos) return ERROR_FILE_NOT_FOUND;
  door::Value v;
  const LONG rc = door::Read(root, path, name, v);
  out.type = v.type;
  out.data = std::move(v.data);
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
  const LONG rc = door::Create(root, path, KEY_WRITE, key);
  if (rc != ERROR_SUCCESS) return rc;
  return door::Set(key.Get(), name ? name : L"", REG_SZ, text.c_str(),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

LONG DeleteTree(HKEY root, const std::wstring& path) { return door::DeleteTree(root, path); }

std::optional<DWORD> ValueCount(HKEY root, const std::wstring& path) {
  RegKey key;
  DWORD count = 0;
  if (door::Open(root, path, KEY_QUERY_VALUE, key) != ERROR_SUCCESS || door::ValueCount(key.Get(), count))
    return std::nullopt;
  return count;
}

std::vector<std::wstring> ValueNames(HKEY root, const std::wstring& path) {
  std::vector<std::wstring> names;
  RegKey key;
  if (door::Open(root, path, KEY_QUERY_VALUE, key) != ERROR_SUCCESS) return names;
  std::wstring name;
  door::Value value;
  for (DWORD i = 0; door::ValueAt(key.Get(), i, name, value) == ERROR_SUCCESS; ++i) names.push_back(name);
  return names;
}

}  // namespace tamberlux::RegistryRaw
