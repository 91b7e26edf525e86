// tamberluxDisabled over a DisabledItems key with no match, against a bare
// RegEnumValue walk of the same key, for 10, 1,000 and 10,000 entries.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchClock.h"
#include "base/ComTypes.h"
#include "component/Main2.h"
#include "errortrap/vbwProtector.h"
#include "registry/WordKeys.h"

namespace {
using namespace tamberlux;

const std::wstring kVersion = L"97.0";
const std::wstring kList = WordKeys::ResiliencyKey(kVersion) + WordKeys::kDisabledItems;
volatile size_t sink;

void Fill(int count) {
  RegDeleteTreeW(HKEY_CURRENT_USER, WordKeys::OfficeKey(kVersion).c_str());
  RegKey owned;
  RegCreateKeyW(HKEY_CURRENT_USER, kList.c_str(), owned.Put());
  const HKEY key = owned.Get();
  const std::wstring path = L"c:\\program files\\other\\helper.dll";
  std::vector<BYTE> data(12);
  const auto* bytes = reinterpret_cast<const BYTE*>(path.c_str());
  data.insert(data.end(), bytes, bytes + (path.size() + 1) * 2);
  for (int i = 0; i < count; ++i) {
    const std::wstring name = L"item" + std::to_wstring(i);
    RegSetValueExW(key, name.c_str(), 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));
  }
}

size_t BareWalk() {
  RegKey owned;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kList.c_str(), 0, KEY_READ, owned.Put())) return 0;
  const HKEY key = owned.Get();
  size_t seen = 0;
  for (DWORD i = 0;; ++i) {
    char name[2048];
    BYTE data[2048];
    DWORD nameLength = 2048, dataLength = 2048;
    if (RegEnumValueA(key, i, name, &nameLength, nullptr, nullptr, data, &dataLength) != ERROR_SUCCESS) break;
    seen += memchr(data, 'z', dataLength) != nullptr;
    ++seen;
  }
  return seen;
}
}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  vbw::vbwInitializeProtector();
  Main2 main2;
  std::printf("%8s %14s %14s %8s\n", "entries", "detection us", "bare walk us", "ratio");
  for (int count : {10, 1000, 10000}) {
    Fill(count);
    // Rounds of each in turn, so a busy moment of the machine falls on both alike.
    const int rounds = count >= 10000 ? 7 : 15;
    const long n = count >= 10000 ? 1 : (count >= 1000 ? 5 : 200);
    double detect = 1e300, bare = 1e300;
    for (int r = 0; r < rounds; ++r) {
      detect = std::min(detect, bench::BestNanoseconds(1, n, [&] { sink = main2.tamberluxDisabled(L"Zentrello", kVersion).size(); }));
      bare = std::min(bare, bench::BestNanoseconds(1, n, [&] { sink = BareWalk(); }));
    }
    std::printf("%8d %14.1f %14.1f %8.2f\n", count, detect / 1000, bare / 1000, detect / bare);
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, WordKeys::OfficeKey(kVersion).c_str());
  CoUninitialize();
  return 0;
}
