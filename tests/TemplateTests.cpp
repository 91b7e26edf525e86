// The product's template and its copy in the folder Word trusts; the special folders behind them are
// the ones these paths are made of. (The installer tests read the warning shown before Word must exit.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "InstallerSurroundings.h"
#include "TestSupport.h"
#include "registry/RegistryBackup.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/GetSpecialFolder.h"
#include "support/UtilityFunctions.h"
// After the component's headers: its CSIDL constants share the shell's macro names.
#include <shlobj.h>

namespace tamberlux::TemplateTests {
namespace {

using namespace test;
namespace Utility = UtilityFunctions;

// A Word of release 12 for the release question; the copy needs no more of Word than its Version.
class TemplateCopy : public TrapTest {
 protected:
  ~TemplateCopy() override { CommonWordInteractionFunctions::Terminate(); }
  void SetUp() override { CommonWordInteractionFunctions::Initialize(WordStandIn::Start()); }
  WordStandIn word;
};

TEST_F(TemplateCopy, TheCopyIsMadeWhenMissingAndReplacedOnlyWhenItsTimeDiffersFromTheDotSource) {
  enum Copy { kNone, kSameTime, kOlder, kNewer, kLowHalf, kFolderInTheWay };
  // question: the start of what the trap is asked when the copy fails (after the number, the description).
  struct Case { const char* what; bool dotSource, dotmSource; Copy copy; std::string after; std::wstring question; };
  ProductTemplate names;
  const Case cases[] = {
      {"a missing copy is made", true, true, kNone, "dotm template"},
      {"the .dot source's time: left alone, whatever it holds", true, true, kSameTime, "user's copy"},
      {"older: replaced", true, true, kOlder, "dotm template"},
      {"newer: replaced", true, true, kNewer, "dotm template"},
      {"only the low half of the time differs: replaced", true, true, kLowHalf, "dotm template"},
      {"no .dot source: replaced on every call", false, true, kSameTime, "dotm template"},
      {"no source at all: nothing, silently", false, false, kNone, "<missing>"},
      {"a folder where the copy goes: reported", true, true, kFolderInTheWay, "<missing>",
       L"vbwErrorHandler 75 The template " + names.Source(L".dotm") + L" could not be copied to " +
           names.Copy(L".dotm") + L" (Windows error 5) Tamberlux UtilityFunctions CopyTemplateIntoTrustedFolder 507"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProductTemplate files;
    if (c.dotSource) WriteWholeFile(files.Source(L".dot"), "dot template");
    if (c.dotmSource) WriteWholeFile(files.Source(L".dotm"), "dotm template");
    const FILETIME t = ProductTemplate::Time(files.Source(L".dot"));
    ULARGE_INTEGER hour{{t.dwLowDateTime, t.dwHighDateTime}};
    hour.QuadPart += (c.copy == kOlder ? -3600LL : 3600LL) * 10000000LL;
    if (c.copy == kFolderInTheWay) CreateDirectoryW(files.Copy(L".dotm").c_str(), nullptr);
    else if (c.copy != kNone) WriteWholeFile(files.Copy(L".dotm"), "user's copy");
    if (c.copy == kSameTime) ProductTemplate::SetTime(files.Copy(L".dotm"), t);
    if (c.copy == kOlder || c.copy == kNewer)
      ProductTemplate::SetTime(files.Copy(L".dotm"), {hour.LowPart, hour.HighPart});
    if (c.copy == kLowHalf) ProductTemplate::SetTime(files.Copy(L".dotm"), {t.dwLowDateTime ^ 1, t.dwHighDateTime});
    const size_t asked = reporter.Records().size();
    // A failed copy leaves the procedure at the reporter's answer, before the path is made.
    EXPECT_EQ(Utility::CopyTemplateIntoTrustedFolder(L"Zentrello"),
              c.question.empty() ? L"\"" + files.Copy(L".dotm") + L"\"" : L"");
    EXPECT_EQ(ReadWholeFile(files.Copy(L".dotm")), c.after);
    EXPECT_EQ(ReadWholeFile(files.Copy(L".dot")), "<missing>") << "Word 12 uses the .dotm copy only";
    const auto records = reporter.Records();
    if (c.question.empty()) {
      EXPECT_EQ(records.size(), asked);
    } else {
      ++expectedQuestions;
      ASSERT_GT(records.size(), asked);
      EXPECT_EQ(records.back().substr(0, c.question.size()), c.question);
    }
    RemoveDirectoryW(files.Copy(L".dotm").c_str());
  }
}

// Text in the code pages of users whose names are outside the Western one: whole strings both ways, each
// double-byte character whole; binary data stays one character per byte.
TEST(Text, ConvertsWholeStringsInEachCodePageAndBinaryDataOneCharacterPerByte) {
  struct Row { unsigned codePage; std::wstring text; std::string bytes; } const rows[] = {
      {932, L"日本語のテンプレート", "\x93\xFA\x96\x7B\x8C\xEA\x82\xCC\x83\x65\x83\x93\x83\x76\x83\x8C\x81\x5B\x83\x67"},
      {932, L"C:\\users\\山田\\AppData", "C:\\users\\\x8E\x52\x93\x63\\AppData"},
      {936, L"中文模板", "\xD6\xD0\xCE\xC4\xC4\xA3\xB0\xE5"},
      {949, L"한국어", "\xC7\xD1\xB1\xB9\xBE\xEE"},
      {950, L"範本", "\xBD\x64\xA5\xBB"},
      {1251, L"Иван", "\xC8\xE2\xE0\xED"},
      {1252, L"Zentrello café", "Zentrello caf\xE9"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.codePage);
    EXPECT_EQ(ToAnsi(r.text, r.codePage), r.bytes);
    EXPECT_EQ(FromAnsi(r.bytes.data(), r.bytes.size(), r.codePage), r.text);
  }
  EXPECT_EQ(FromAnsi("", 0, 932), L"");
  EXPECT_EQ(OneCharPerByte("\x01\x93\xFA\x00\x41", 5), std::wstring(L"\x01\u201C\u00FA\0A", 5))
      << "binary data: five bytes, five characters, the NUL kept (as the Western code page maps them)";
}

using Files = TrapTest;  // and no question asked

TEST_F(Files, FileExistsIsFalseForFoldersAndMissingPaths) {
  ProductTemplate files;
  WriteWholeFile(files.Source(L".dot"), "x");
  EXPECT_TRUE(Utility::fileExists(files.Source(L".dot")));
  for (const std::wstring& path : {files.Source(L".dotm"), Utility::SRC_PATH(L"Zentrello"),
                                   std::wstring(L"Q:\\no\\such\\drive.dot"), std::wstring()})
    EXPECT_FALSE(Utility::fileExists(path)) << ToUtf8(path);
  const FILETIME none = Utility::getTime(L"Q:\\no\\such\\drive.dot");
  EXPECT_EQ(none.dwLowDateTime | none.dwHighDateTime, 0u);
}

TEST(SpecialFolders, AnUnknownOneShowsAMessage) {
  StartedTrap trap;
  DialogWatch watch;
  int32_t unknown = 0x7777;
  const std::wstring result = GetSpecialFolder::fGetSpecialFolder(unknown);
  const auto seen = watch.Result();
  EXPECT_EQ(seen.text, L"Could not get special folder");
  EXPECT_EQ(seen.title, L"Tamberlux");
  EXPECT_EQ(result, std::wstring(MAX_PATH, L'\0')) << "the untouched buffer, which is no path";
}

// --- Users whose names are outside the ANSI code page -------------------------------------------------------------

// The main job, run by this program in a prefix of the user's own: install-deps, launch, install and repair through
// the tamberlux command. What it found is printed for the test below, which made the prefix, to read.
TEST(UsersNames, DISABLED_TheMainJobInThisUsersPrefix) {
  wchar_t user[128] = {}, appData[MAX_PATH] = {};
  GetEnvironmentVariableW(L"TAMBERLUX_USER_NAME", user, 128);
  ASSERT_NE(user[0], L'\0');
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, appData), S_OK);
  const std::wstring templates = L"C:\\users\\" + std::wstring(user) + L"\\AppData\\Roaming\\Microsoft\\Templates\\";
  ASSERT_EQ(appData + std::wstring(L"\\Microsoft\\Templates\\"), templates);
  const std::wstring copy = templates + L"Zentrello.dotm";
  std::printf("copy: %s\n", ToUtf8(copy).c_str());

  test::StartedTrap apartment;
  ASSERT_EQ(RegisterComponent(), S_OK);
  WordStandIn word;
  const std::wstring source = L"C:\\Program Files\\Valdomeren\\Zentrello\\";
  SHCreateDirectoryExW(nullptr, source.c_str(), nullptr);
  WriteWholeFile(source + L"Zentrello.dot", "dot template");
  WriteWholeFile(source + L"Zentrello.dotm", "dotm template");
  ProductTemplate::SetTime(source + L"Zentrello.dot", ProductTemplate::Time(source + L"Zentrello.dotm"));
  const auto status = [] { return Tamberlux(L"status Zentrello", false).Text(); };
  EXPECT_NE(status().find(L"template copy Zentrello.dotm: missing"), std::wstring::npos);

  // install-deps: a missing group fetched into the user's Internet cache and its installer run there (the stand-in
  // installs every file it is given, the other group's too).
  {
    wchar_t tag[64] = {};  // the processes in each user's prefix have ids of their own, which can be the same
    GetEnvironmentVariableW(L"TAMBERLUX_USER_STAGE", tag, 64);
    DownloadStage stage(tag, "ok");
    std::wstring files;
    const std::pair<const wchar_t*, const wchar_t*> provided[] = {
        {L"MsgHook.dll", L"MsgHook.dll"}, {L"ThreadFactoryLib_RUNTIME.dll", L"ThreadFactoryLib_RUNTIME.dll"},
        {L"VXPLib.dll", L"VXPLib.dll"}, {L"DartSock.dll", L"DartSock.dll"}, {L"DartWeb.dll", L"DartWeb.dll"},
        {L"comct232_ocx.dll", L"comct232.ocx"}};
    for (const auto& [built, name] : provided) {
      ASSERT_TRUE(CopyFileW((BinDir() + built).c_str(), (stage.dir + name).c_str(), FALSE));
      files += stage.dir + name + L'\0';
    }
    ASSERT_EQ(SetMachineValue(standin::kInstallerKey, L"Files", files, REG_MULTI_SZ), ERROR_SUCCESS);
    // No Word runs yet: the notices are printed, not shown.
    const Ran installed = Tamberlux(L"install-deps Zentrello", true, 120000);
    EXPECT_EQ(installed.code, 0u) << ToUtf8(installed.Text());
    EXPECT_EQ(Occurrences(installed.Text(), L"Zentrello needs to install core library files:"), 1u);
    EXPECT_EQ(stage.Read(L"requests"), "/dependencies/infra.exe\n");
    const auto runs = stage.InstallerRuns();
    ASSERT_EQ(runs.size(), 1u);
    for (const auto& run : runs) {
      ASSERT_EQ(run.size(), 3u);
      EXPECT_TRUE(run[2].starts_with(L"C:\\users\\" + std::wstring(user) + L"\\")) << ToUtf8(run[2]);
      EXPECT_TRUE(run[1].starts_with(L"\"") && run[1].ends_with(L".exe\" /Q")) << ToUtf8(run[1]);
      std::printf("installer: %s\n", ToUtf8(run[2].substr(0, run[2].find(L'\\', 9) + 1)).c_str());
    }
  }

  // launch: the template is copied (into a Templates folder Word has not made yet).
  Ran r = Tamberlux(L"launch Zentrello");
  EXPECT_EQ(r.Text(), L"Word 12.0 is running with 1 document open; Zentrello launched.\r\n");
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(ReadWholeFile(copy), "dotm template");
  EXPECT_NE(status().find(L"template copy Zentrello.dotm: same time (used by this Word)"), std::wstring::npos);

  // install: copied again and Word handed the real quoted path.
  DeleteFileW(copy.c_str());
  word.Set(L"MacroResult", L"object");
  r = Tamberlux(L"install Zentrello");
  EXPECT_EQ(r.Text(), L"Zentrello was added to Word 12.0 at once; its set-up macro answered an object.\r\n");
  EXPECT_EQ(r.code, 0u);
  EXPECT_EQ(ReadWholeFile(copy), "dotm template");
  std::vector<std::wstring> calls;
  for (DWORD process : word.Processes())
    for (const auto& call : word.Calls(process))
      if (call.starts_with(L"AddIns.Add")) calls.push_back(call);
  EXPECT_EQ(calls, std::vector<std::wstring>{L"AddIns.Add\t\"" + copy + L"\""});
  for (const auto& call : calls) std::printf("word: %s\n", ToUtf8(call).c_str());

  // repair: Word's Data key backed up in the user's folder, then deleted.
  const std::wstring data = L"Software\\Microsoft\\Office\\12.0\\Word\\Data";
  SetText(data, L"Settings", L"corrupt");
  r = Tamberlux(L"repair Zentrello --data");
  EXPECT_EQ(r.code, 0u) << ToUtf8(r.Text());
  EXPECT_FALSE(KeyExists(data));
  const auto backups = RegistryBackup::Backups();
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_TRUE(backups[0].starts_with(L"C:\\users\\" + std::wstring(user) + L"\\AppData\\Local\\Valdomeren\\Tamberlux\\"))
      << ToUtf8(backups[0]);
  EXPECT_NE(ReadWholeFile(backups[0]).find(std::string("c\0o\0r\0r\0u\0p\0t\0", 14)), std::string::npos);
}

// Users named in Cyrillic and in Japanese, each in a copy of the booted prefix (Wine names the profile after $USER and
// makes it on the first start under that name) with its own wineserver, stopped at the end: the main job above, run
// there, copies the template, hands Word its real path and runs the libraries' installers.
TEST(UsersNames, TheMainJobWorksForUsersWhoseNamesTheCodePageLacks) {
  const std::wstring names[] = {L"Иван", L"山田太郎"};
  const auto unix = [](std::wstring path) {  // Z: is the Unix root
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return ToUtf8(path.substr(2));
  };
  std::vector<std::wstring> folders;
  for (size_t i = 0; i < std::size(names); ++i) {
    const std::wstring folder = BinDir() + L"users." + std::to_wstring(GetCurrentProcessId()) + L"." +
                                std::to_wstring(i) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::string script =
        "unset WINESERVERSOCKET WINELOADERNOEXEC; export PATH=/usr/local/bin:/usr/bin:/bin\n"
        "export WINEPREFIX='" + unix(folder) + "prefix' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=;winedbg.exe=d'\n"
        "export USER='" + ToUtf8(names[i]) + "' TAMBERLUX_USER_NAME='" + ToUtf8(names[i]) + "' TAMBERLUX_USER_STAGE=" +
        "users-stage." + std::to_string(GetCurrentProcessId()) + "." + std::to_string(i) + "\n"
        "cp -a --reflink=auto '" + unix(BinDir()) + "../wine-template' \"$WINEPREFIX\"\n"
        "wine '" + unix(TestProgram()) + "' --gtest_also_run_disabled_tests "
        "--gtest_filter=UsersNames.DISABLED_TheMainJobInThisUsersPrefix >'" + unix(folder) + "output' 2>&1\n"
        "echo $? >'" + unix(folder) + "code.part'\n"
        "wineserver -k; wineserver -w\n"
        "rm -rf \"$WINEPREFIX\"\n"  // not through Windows: the prefix's drive links lead out of it
        "mv '" + unix(folder) + "code.part' '" + unix(folder) + "code'\n";
    WriteWholeFile(folder + L"run.sh", script);
    // Started once, not through Start, which tries again when it gets no process handle (as for a Unix program).
    std::wstring command = L"/bin/sh " + FromUtf8(unix(folder)) + L"run.sh";
    STARTUPINFOW si{sizeof(si)};
    PROCESS_INFORMATION pi{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
      CloseHandle(pi.hThread), CloseHandle(pi.hProcess);  // it ends by itself
    folders.push_back(folder);
  }
  for (size_t i = 0; i < std::size(names); ++i) {
    SCOPED_TRACE(ToUtf8(names[i]));
    const std::wstring& folder = folders[i];
    EXPECT_TRUE(WaitUntil([&] { return ReadWholeFile(folder + L"code") != "<missing>"; }, 280000));
    const std::string output = ReadWholeFile(folder + L"output"), user = ToUtf8(names[i]);
    EXPECT_EQ(ReadWholeFile(folder + L"code"), "0\n") << output;
    const std::string lines[] = {
        "copy: C:\\users\\" + user + "\\AppData\\Roaming\\Microsoft\\Templates\\Zentrello.dotm\r\n",
        "word: AddIns.Add\t\"C:\\users\\" + user + "\\AppData\\Roaming\\Microsoft\\Templates\\Zentrello.dotm\"\r\n",
        "installer: C:\\users\\" + user + "\\\r\n", "[  PASSED  ] 1 test."};
    for (const std::string& line : lines)
      EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
    for (const wchar_t* file : {L"run.sh", L"output", L"code"}) DeleteFileW((folder + file).c_str());
    EXPECT_TRUE(RemoveDirectoryW(folder.c_str())) << "the prefix went with its wineserver";
  }
}

}  // namespace
}  // namespace tamberlux::TemplateTests
