// The window hook library of Word's bitness: which file is chosen, what a
// missing one says, and the placement by a rundll32 of the window's bitness.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "TestSupport.h"
#include "base/VbError.h"
#include "component/hook/HookLibrary.h"
#include "component/hook/HookProtocol.h"
#include "component/hook/WindowHook.h"

namespace tamberlux::HookLibraryTests {
namespace {

namespace fs = std::filesystem;
using hook::Bitness;

// What `call` answered, or what it raised: "error <number>: <description>".
std::wstring Outcome(const std::function<std::wstring()>& call) {
  try {
    return call();
  } catch (const vb::Error& e) {
    return L"error " + std::to_wstring(e.number) + L": " + e.description;
  }
}

TEST(HookLibrary, TheLibraryOfWordsBitnessIsChosenAndAMissingOneIsNamed) {
  const fs::path root = fs::temp_directory_path() / ("HookLibrary" + std::to_string(GetCurrentProcessId()));
  const std::wstring own = (root / "build").wstring() + L"\\", x64 = (root / "x64").wstring() + L"\\",
                     x86 = (root / "x86").wstring() + L"\\";
  const Bitness self = hook::OwnBitness(), other = self == Bitness::k64 ? Bitness::k32 : Bitness::k64;
  const std::wstring otherFolder = other == Bitness::k64 ? x64 : x86, bits = other == Bitness::k64 ? L"64" : L"32";
  struct { std::vector<std::wstring> present; Bitness target; std::wstring expected; } const cases[] = {
      {{own, x64, x86}, self, own + hook::kLibrary},
      {{own, x64, x86}, other, otherFolder + hook::kLibrary},
      {{own}, other, L"error 53: Word's window belongs to a " + bits + L"-bit process, and the " + bits +
                         L"-bit window hook library " + otherFolder + hook::kLibrary + L" is not there"}};
  for (const auto& c : cases) {
    fs::remove_all(root);
    for (const auto& folder : c.present) {
      fs::create_directories(folder);
      std::ofstream(fs::path(folder) / hook::kLibrary) << "library";
    }
    EXPECT_EQ(Outcome([&] { return hook::HookLibraryFor(c.target, {own, x64, x86}); }), c.expected);
  }
  fs::remove_all(root);
  EXPECT_EQ(hook::ProcessBitness(GetCurrentProcess()), self);
  EXPECT_EQ(hook::InstalledHookFolders().own, test::BinDir());
}

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return message == WM_APP + 7 ? 42 : DefWindowProcW(window, message, wParam, lParam);
}

TEST(HookLibrary, ARundll32OfTheWindowsBitnessPlacesTheHookAndItsMessagesArrive) {
  // A window of another thread, as Word's is of another process.
  std::promise<std::pair<HWND, DWORD>> made;
  std::thread owner([&] {
    WNDCLASSW wc{0, PlainProc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr, nullptr, L"HookTarget"};
    RegisterClassW(&wc);
    made.set_value({CreateWindowExW(0, L"HookTarget", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr),
                    GetCurrentThreadId()});
    for (MSG m; GetMessageW(&m, nullptr, 0, 0) > 0;) DispatchMessageW(&m);
  });
  const auto [window, ownerThread] = made.get_future().get();

  std::vector<int32_t> answers;
  auto hooked = WindowHook::New();
  hooked->AfterMessage = [&](int32_t uMsg, int32_t, int32_t, int32_t& retValue) {
    if (uMsg == WM_APP + 7) answers.push_back(retValue);
  };
  const auto attach = [&](HWND target) {
    return Outcome([&] {
      hooked->AttachThroughProcess(target, hook::Rundll32For(hook::OwnBitness()),
                                   hook::HookLibraryFor(hook::OwnBitness(), hook::InstalledHookFolders()));
      return std::wstring(L"hooked");
    });
  };
  EXPECT_EQ(attach(window), L"hooked");
  EXPECT_EQ(SendMessageW(window, WM_APP + 7, 0, 0), 42);
  test::WaitUntil([&] { return !answers.empty(); });
  EXPECT_EQ(answers, std::vector<int32_t>{42});
  hooked->Detach();
  // A window that is not there: the hook's rundll32 says so (exit code 3).
  EXPECT_NE(attach(reinterpret_cast<HWND>(0x7FFF0)).find(L"was not placed by"), std::wstring::npos);
  PostThreadMessageW(ownerThread, WM_QUIT, 0, 0);
  owner.join();
}

}  // namespace
}  // namespace tamberlux::HookLibraryTests
