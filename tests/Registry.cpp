// Registry helpers: the private user hive, real per-user keys kept as they
// were, and raw reads and writes for arranging and checking state.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "registry/RegistryRaw.h"

namespace tamberlux::test {

PrivateUserHive::PrivateUserHive() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name = info ? info->name() : "scenario";
  path_ = standin::kTestsKey + std::wstring(name.begin(), name.end()) + L"." +
          std::to_wstring(GetCurrentProcessId());
  RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  RegKey key;
  RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
  if (RegOverridePredefKey(HKEY_CURRENT_USER, key.Get()) != ERROR_SUCCESS) FatalAppExitA(0, "no private user hive");
}

PrivateUserHive::~PrivateUserHive() {
  RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
  RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
}

namespace {
// The real user hive, whether or not this process maps HKEY_CURRENT_USER elsewhere.
RegKey RealUser() {
  RegKey user;
  RegOpenCurrentUser(KEY_ALL_ACCESS, user.Put());
  return user;
}
bool CopyTree(HKEY root, const std::wstring& from, const std::wstring& to) {
  RegKey source, target;
  return RegOpenKeyExW(root, from.c_str(), 0, KEY_READ, source.Put()) == ERROR_SUCCESS &&
         RegCreateKeyExW(root, to.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, target.Put(), nullptr) ==
             ERROR_SUCCESS &&
         RegCopyTreeW(source.Get(), nullptr, target.Get()) == ERROR_SUCCESS;
}
}  // namespace

KeptUserKey::KeptUserKey(std::wstring path)
    : path_(std::move(path)),
      aside_(standin::kTestsKey + std::wstring(L"Kept.") + std::to_wstring(GetCurrentProcessId()) + L"." +
             std::to_wstring(reinterpret_cast<uintptr_t>(this))),
      existed_(CopyTree(RealUser().Get(), path_, aside_)) {}

KeptUserKey::~KeptUserKey() {
  const RegKey user = RealUser();
  RegDeleteTreeW(user.Get(), path_.c_str());
  if (existed_) CopyTree(user.Get(), aside_, path_);
  RegDeleteTreeW(user.Get(), aside_.c_str());
}

void SetValue(const std::wstring& path, const std::wstring& name, DWORD type, const void* data, DWORD size) {
  // A value that cannot be written leaves the scenario unarranged: the test fails here.
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name.empty() ? nullptr : name.c_str(), type, data, size),
            ERROR_SUCCESS);
}

void SetText(const std::wstring& path, const std::wstring& name, const std::wstring& text) {
  SetValue(path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void SetDword(const std::wstring& path, const std::wstring& name, DWORD value) {
  SetValue(path, name, REG_DWORD, &value, sizeof(value));
}

void AddEntry(const std::wstring& list, const std::wstring& valueName, const std::vector<BYTE>& data) {
  SetValue(list, valueName, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
}

bool KeyExists(const std::wstring& path) {
  RegKey key;
  return RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

RawValue ReadRaw(const std::wstring& path, const std::wstring& name) {
  auto v = RegistryRaw::Read(HKEY_CURRENT_USER, path, name);
  return v ? RawValue{true, v->type, std::move(v->data)} : RawValue{};
}

std::wstring ReadText(const std::wstring& path, const std::wstring& name) {
  const auto raw = ReadRaw(path, name);
  if (!raw.exists) return L"(none)";
  std::wstring text(reinterpret_cast<const wchar_t*>(raw.data.data()), raw.data.size() / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') text.pop_back();
  return text;
}

DWORD ReadDword(const std::wstring& path, const std::wstring& name) {
  const auto raw = ReadRaw(path, name);
  return raw.exists && raw.type == REG_DWORD ? *reinterpret_cast<const DWORD*>(raw.data.data()) : 0xFFFFFFFF;
}

std::vector<std::wstring> ValueNames(const std::wstring& path) {
  return RegistryRaw::ValueNames(HKEY_CURRENT_USER, path);
}

std::string Utf16File(const std::wstring& text) {
  const std::wstring all = L"\xFEFF" + text;
  return std::string(reinterpret_cast<const char*>(all.data()), all.size() * sizeof(wchar_t));
}

std::vector<HostileBackup> HostileBackups(const std::wstring& version, const std::wstring& productName) {
  const std::wstring data = L"Software\\Microsoft\\Office\\" + version + L"\\Word\\Data", section = L"Software\\" + productName,
                     run = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", cu = L"[HKEY_CURRENT_USER\\",
                     start = L"Windows Registry Editor Version 5.00\r\n\r\n" + cu + data + L"]\r\n\"a\"=\"1\"\r\n",
                     other = L"a key other than Word's Data key and the product's settings section (line 5): ",
                     odd = L"Software\\Microsoft\\Office\\" + version + L"x\\Word\\Data", evil = L"Tamberlux" + version,
                     part = L"an empty, \".\", \"..\" or over-long part (line 5)",
                     header = L"no \"" + start.substr(0, 36);
  const auto after = [&](const std::wstring& lines) { return Utf16File(start + lines + L"\r\n"); };
  return {
      {after(cu + run + L"]\r\n\"" + evil + L"\"=\"C:\\\\evil.exe\""), other + cu + run + L"]", run, evil},
      {after(L"[HKEY_LOCAL_MACHINE\\" + data + L"]"), L"a key outside HKEY_CURRENT_USER (line 5)", data},
      {after(cu + odd + L"]"), L"not Word's (a Word version is digits, a full stop and digits) (line 5): " + cu + odd,
       odd},
      {after(cu + section + L"]\r\n\"WordVersion\"=\"12.0\"\r\n\"Run\"=\"x\""),
       L"a value the product's settings section does not hold (line 7): \"Run\"=\"x\"", section},
      {after(cu + section + L"\\Sub]"), other + cu + section + L"\\Sub]", section},
      {after(cu + data + L"\\a" + L'\0' + L"b]"), L"a NUL character (line 5): " + cu + data + L"\\a\\x00b]", data},
      {after(cu + data + L"\\..\\..\\..\\..\\..\\Run]"), part, data},
      {after(cu + data + L"\\]"), part, data},
      {after(L"\"b\"=hex:" + std::wstring(1 << 21, L'0')), L"the file is larger than a backup can be", data},
      {after(L"").substr(2), L"a NUL byte: neither UTF-16 text with its byte-order mark nor ANSI text (line 1): W\\x00i",
       data},
      {"plain bytes", header, data},
      {Utf16File(L"REGEDIT4\r\n"), header, data},
      {after(L"\"b\"=hex:zz"), L"bad hexadecimal data (line 5): \"b\"=hex:zz", data},
      {after(L"\"c\""), L"a value line without \"=\" (line 5): \"c\"", data},
  };
}

}  // namespace tamberlux::test
