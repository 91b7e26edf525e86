#include "registry/RegistryFunctions.h"

#include <cstdio>
#include <cstring>

#include "errortrap/Procedure.h"

namespace tamberlux::RegistryFunctions {

namespace {

using vbw::Var;

// A null name addresses the key's default value.
const char* ValueName(const std::string& name) { return name.empty() ? nullptr : name.c_str(); }

// The buffer keeps its last byte free, as a fixed-length string of 2048
// would: data of 2048 bytes or more counts as not fitting.
bool Fits(DWORD length) { return length < kBufferSize; }

struct Query {
  bool ok = false;
  DWORD type = 0;
  DWORD length = 0;
  char data[kBufferSize] = {};
};

// Opens section, queries key into a 2048-byte buffer, closes the key.
void QueryValue(HKEY Group, const std::wstring& section, const std::wstring& key, Query& q) {
  RegKey k;
  RegOpenKeyA(Group, ToAnsi(section).c_str(), k.Put());
  q.length = kBufferSize;
  const std::string name = ToAnsi(key);
  q.ok = RegQueryValueExA(k.Get(), ValueName(name), nullptr, &q.type, reinterpret_cast<BYTE*>(q.data),
                          &q.length) == ERROR_SUCCESS &&
         Fits(q.length);
}

// A name with an embedded NUL would reach the platform cut short and name
// another key or value: refused through the caller's error trap.
void RequireWhole(const std::wstring& section, const std::wstring& key) {
  if (section.find(L'\0') != std::wstring::npos || key.find(L'\0') != std::wstring::npos)
    vb::Raise(vb::kInvalidCall, L"a registry key or value name cannot hold a NUL character");
}

// Stores the value unless it already holds exactly this type and data: an
// unchanged value is not written again, and then there is nothing to flush.
bool Store(HKEY k, const char* name, DWORD type, const BYTE* data, DWORD size) {
  std::string held(size + 1, '\0');
  DWORD heldType = 0, heldSize = size + 1;
  if (RegQueryValueExA(k, name, nullptr, &heldType, reinterpret_cast<BYTE*>(held.data()), &heldSize) ==
          ERROR_SUCCESS &&
      heldType == type && heldSize == size && std::memcmp(held.data(), data, size) == 0)
    return false;
  RegSetValueExA(k, name, 0, type, data, size);
  return true;
}

// The data without its last byte, one character per byte: binary entries are read as text too.
std::wstring DataText(const char* data, DWORD length) { return length ? OneCharPerByte(data, length - 1) : L""; }

}  // namespace

std::wstring ReadRegistryString(HKEY Group, const std::wstring& section, const std::wstring& key) {
  std::wstring result;
  vbw::Proc p(L"RegistryFunctions.ReadRegistryString", vbw::BannerOnly,
              {Var(L"Group", Group), Var(L"section", section), Var(L"key", key)});
  p.Run([&] {
    if (!p.Completed(100, [&] { RequireWhole(section, key); })) return;
    p.ResumeNext();
    Query q;
    p(101, [&] { QueryValue(Group, section, key, q); });
    p(102, [&] {
      if (q.ok) result = DataText(q.data, q.length);
    });
  });
  return result;
}

std::wstring ReadRegistry(HKEY Group, const std::wstring& section, const std::wstring& key) {
  std::wstring result;
  vbw::Proc p(L"RegistryFunctions.ReadRegistry", vbw::BannerOnly,
              {Var(L"Group", Group), Var(L"section", section), Var(L"key", key)});
  p.Run([&] {
    if (!p.Completed(200, [&] { RequireWhole(section, key); })) return;
    p.ResumeNext();
    Query q;
    p(201, [&] { QueryValue(Group, section, key, q); });
    if (!q.ok) return;
    p(202, [&] {
      const auto* b = reinterpret_cast<const unsigned char*>(q.data);
      if (q.type == REG_DWORD) {
        // Computed unsigned, so a value with the top bit set stays positive.
        const double number = b[0] + 256.0 * b[1] + 65536.0 * b[2] + 16777216.0 * b[3];
        wchar_t text[16];
        swprintf(text, 16, L"%03.0f", number);
        result = text;
      } else if (q.type == REG_BINARY) {
        static const wchar_t kHex[] = L"0123456789ABCDEF";
        result.reserve(q.length * 2);
        for (DWORD i = 0; i < q.length; ++i) {
          result += kHex[b[i] >> 4];
          result += kHex[b[i] & 15];
        }
      } else {
        result = DataText(q.data, q.length);
      }
    });
  });
  return result;
}

void WriteRegistry(HKEY Group, const std::wstring& section, const std::wstring& key, int32_t ValType,
                   const VARIANT& value) {
  vbw::Proc p(L"RegistryFunctions.WriteRegistry", vbw::BannerOnly,
              {Var(L"Group", Group), Var(L"section", section), Var(L"key", key), Var(L"ValType", ValType),
               Var(L"value", value)});
  RegKey k;
  const std::string name = ToAnsi(key);
  p.Run([&] {
    if (!p.Completed(300, [&] { RequireWhole(section, key); })) return;
    p(301, [&] { RegCreateKeyA(Group, ToAnsi(section).c_str(), k.Put()); });
    bool changed = true;
    if (ValType == REG_DWORD_TYPE) {
      p(302, [&] {
        const DWORD number = static_cast<DWORD>(ToLong(value));
        changed = Store(k.Get(), ValueName(name), REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
      });
    } else {
      p(303, [&] {
        std::string text = ToAnsi(ToText(value));
        if (ValType == REG_SZ_TYPE) text.push_back('\0');
        changed = Store(k.Get(), ValueName(name), REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                        static_cast<DWORD>(text.size()));
      });
    }
    if (changed) p(304, [&] { RegFlushKey(k.Get()); });
  });
}

WalkKey::WalkKey(HKEY Group, const std::wstring& section) {
  if (section.find(L'\0') == std::wstring::npos) RegOpenKeyA(Group, ToAnsi(section).c_str(), key_.Put());
}

std::wstring ReadRegistryStringGetAll(HKEY Group, const std::wstring& section, int32_t& Idx, std::wstring& value,
                                      const WalkKey* walk) {
  std::wstring result;
  vbw::Proc p(L"RegistryFunctions.ReadRegistryStringGetAll", vbw::BannerOnly,
              {Var(L"Group", Group), Var(L"section", section), Var(L"Idx", Idx), Var(L"value", value)});
  p.Run([&] {
    if (!p.Completed(400, [&] { RequireWhole(section, {}); })) return;
    p.ResumeNext();
    RegKey k;
    if (!walk) p(401, [&] { RegOpenKeyA(Group, ToAnsi(section).c_str(), k.Put()); });
    const HKEY key = walk ? walk->Get() : k.Get();
    p(402, [&] { value.assign(kBufferSize, L' '); });
    p(403, [&] {
      char name[kBufferSize];
      char data[kBufferSize];
      DWORD nameLength = kBufferSize, dataLength = kBufferSize, type = 0;
      if (RegEnumValueA(key, static_cast<DWORD>(Idx), name, &nameLength, nullptr, &type,
                        reinterpret_cast<BYTE*>(data), &dataLength) != ERROR_SUCCESS ||
          !Fits(dataLength))
        return;
      value = DataText(data, dataLength);
      result = FromAnsi(name, nameLength);
    });
  });
  return result;
}

void DeleteSubkey(HKEY Group, const std::wstring& section) {
  vbw::Proc p(L"RegistryFunctions.DeleteSubkey", vbw::BannerOnly, {Var(L"Group", Group), Var(L"section", section)});
  p.Run([&] {
    if (!p.Completed(500, [&] { RequireWhole(section, {}); })) return;
    p.ResumeNext();
    RegKey root;
    p(501, [&] { RegOpenKeyExA(Group, "", 0, KEY_ALL_ACCESS, root.Put()); });
    p(502, [&] { RegDeleteKeyA(root.Get(), ToAnsi(section).c_str()); });
  });
}

void DeleteValue(HKEY Group, const std::wstring& section, const std::wstring& key) {
  vbw::Proc p(L"RegistryFunctions.DeleteValue", vbw::BannerOnly,
              {Var(L"Group", Group), Var(L"section", section), Var(L"key", key)});
  p.Run([&] {
    if (!p.Completed(600, [&] { RequireWhole(section, key); })) return;
    p.ResumeNext();
    RegKey k;
    p(601, [&] { RegOpenKeyA(Group, ToAnsi(section).c_str(), k.Put()); });
    p(602, [&] { RegDeleteValueA(k.Get(), ToAnsi(key).c_str()); });
  });
}

}  // namespace tamberlux::RegistryFunctions
