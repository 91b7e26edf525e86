#include "registry/RegistryFunctions.h"

#include <cstdio>
#include <cstring>

#include "base/RegistryDoor.h"
#include "errortrap/Procedure.h"

namespace tamberlux::RegistryFunctions {

namespace {

using vbw::Var;
namespace door = RegistryDoor;
constexpr auto kAnsi = door::Text::kAnsi;

// A missing key or value is the answer "not found", not a failure; any other
// Win32 failure raises, naming the key, the value and the code.
bool Found(LONG rc, HKEY Group, const std::wstring& section, const std::wstring* key = nullptr) {
  if (rc == ERROR_FILE_NOT_FOUND) return false;
  door::Check(rc, Group, section, key);
  return true;
}

// The buffer keeps its last byte free, as a fixed-length string of 2048
// would: data of 2048 bytes or more counts as not fitting.
bool Fits(DWORD length) { return length < kBufferSize; }

struct Query {
  bool ok = false;
  DWORD type = 0;
  DWORD length = 0;
  const char* data = "";
  door::Value value;
};

// Opens section, queries key as a 2048-byte buffer would hold it, closes the
// key. A key or value that cannot be read raises, naming it and the Win32
// code: the caller's trap skips it.
void QueryValue(HKEY Group, const std::wstring& section, const std::wstring& key, Query& q) {
  RegKey k;
  if (!Found(door::Open(Group, section, MAXIMUM_ALLOWED, k, kAnsi), Group, section) ||
      !Found(door::Query(k.Get(), key, q.value, kAnsi), Group, section, &key))
    return;
  q.type = q.value.type;
  q.length = static_cast<DWORD>(q.value.data.size());
  q.data = reinterpret_cast<const char*>(q.value.data.data());
  q.ok = Fits(q.length);
}

// A name with an embedded NUL would reach the platform cut short and name
// another key or value: refused through the caller's error trap.
void RequireWhole(const std::wstring& section, const std::wstring& key) {
  if (section.find(L'\0') != std::wstring::npos || key.find(L'\0') != std::wstring::npos)
    vb::Raise(vb::kInvalidCall, L"a registry key or value name cannot hold a NUL character");
}

// Stores the value unless it already holds exactly this type and data: an
// unchanged value is not written again, and then there is nothing to flush.
// A write that fails raises, naming the value and the Win32 code.
bool Store(HKEY Group, const std::wstring& section, HKEY k, const std::wstring& name, DWORD type, const BYTE* data,
           DWORD size) {
  door::Value held;
  if (door::Query(k, name, held, kAnsi) == ERROR_SUCCESS && held.type == type && held.data.size() == size &&
      std::memcmp(held.data.data(), data, size) == 0)
    return false;
  door::Check(door::Set(k, name, type, data, size, kAnsi), Group, section, &name);
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
  p.Run([&] {
    if (!p.Completed(300, [&] { RequireWhole(section, key); })) return;
    // The registry's own failures raise nothing to the caller: each is
    // skipped, and traced as ignored.
    p.Try(301, [&] { door::Check(door::Create(Group, section, MAXIMUM_ALLOWED, k, nullptr, kAnsi), Group, section); });
    bool changed = true;
    DWORD type = REG_SZ;
    std::string bytes;
    if (ValType == REG_DWORD_TYPE) {
      p(302, [&] {
        const DWORD number = static_cast<DWORD>(ToLong(value));
        bytes.assign(reinterpret_cast<const char*>(&number), sizeof(number));
        type = REG_DWORD;
      });
    } else {
      p(303, [&] {
        bytes = ToAnsi(ToText(value));
        if (ValType == REG_SZ_TYPE) bytes.push_back('\0');
      });
    }
    if (type == REG_DWORD || ValType != REG_DWORD_TYPE)
      p.Try(305, [&] {
        changed = Store(Group, section, k.Get(), key, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
      });
    if (changed) p.Try(304, [&] { door::Check(door::Flush(k.Get()), Group, section); });
  });
}

WalkKey::WalkKey(HKEY Group, const std::wstring& section) {
  if (section.find(L'\0') == std::wstring::npos) door::Open(Group, section, MAXIMUM_ALLOWED, key_, kAnsi);
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
    if (!walk) p(401, [&] { Found(door::Open(Group, section, MAXIMUM_ALLOWED, k, kAnsi), Group, section); });
    const HKEY key = walk ? walk->Get() : k.Get();
    p(402, [&] { value.assign(kBufferSize, L' '); });
    p(403, [&] {
      if (!key) return;
      std::wstring name;
      door::Value data;
      const LONG rc = door::ValueAt(key, static_cast<DWORD>(Idx), name, data, kAnsi);
      // Past the last value is the end of a walk, not a failure.
      if (rc == ERROR_NO_MORE_ITEMS) return;
      door::Check(rc, Group, section);
      // What a 2048-byte name or data buffer does not hold counts as not found.
      if (ToAnsi(name).size() >= kBufferSize || !Fits(static_cast<DWORD>(data.data.size()))) return;
      value = DataText(reinterpret_cast<const char*>(data.data.data()), static_cast<DWORD>(data.data.size()));
      result = name;
    });
  });
  return result;
}

void DeleteSubkey(HKEY Group, const std::wstring& section) {
  vbw::Proc p(L"RegistryFunctions.DeleteSubkey", vbw::BannerOnly, {Var(L"Group", Group), Var(L"section", section)});
  p.Run([&] {
    if (!p.Completed(500, [&] { RequireWhole(section, {}); })) return;
    p.ResumeNext();
    // The root opened with full access, the key deleted (refused while it has sub-keys).
    p(502, [&] { Found(door::DeleteKey(Group, section, kAnsi), Group, section); });
  });
}

void DeleteValue(HKEY Group, const std::wstring& section, const std::wstring& key) {
  vbw::Proc p(L"RegistryFunctions.DeleteValue", vbw::BannerOnly,
              {Var(L"Group", Group), Var(L"section", section), Var(L"key", key)});
  p.Run([&] {
    if (!p.Completed(600, [&] { RequireWhole(section, key); })) return;
    p.ResumeNext();
    RegKey k;
    p(601, [&] { Found(door::Open(Group, section, MAXIMUM_ALLOWED, k, kAnsi), Group, section); });
    p(602, [&] {
      if (k) Found(door::DeleteValue(k.Get(), key, kAnsi), Group, section, &key);
    });
  });
}

}  // namespace tamberlux::RegistryFunctions
