// The product's template and its copy in the folder Word trusts, the special
// folders behind them, and the warning shown before Word must exit.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "component/Main2.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/GetSpecialFolder.h"
#include "support/UtilityFunctions.h"

namespace tamberlux {
namespace {

using test::ProductTemplate;
namespace Utility = UtilityFunctions;

FILETIME Shifted(FILETIME t, LONGLONG seconds) {
  ULARGE_INTEGER v{{t.dwLowDateTime, t.dwHighDateTime}};
  v.QuadPart += seconds * 10000000LL;
  return FILETIME{v.LowPart, v.HighPart};
}

// A Word of the given version for the release question; the copy tests need
// no more of Word than its Version.
class TemplateCopy : public ::testing::Test {
 protected:
  ~TemplateCopy() override { CommonWordInteractionFunctions::Terminate(); }
  void TearDown() override { EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0) << "a failure went to the trap"; }
  void UseWord(const wchar_t* version) {
    word.Set(L"Version", version);
    CommonWordInteractionFunctions::Initialize(test::WordStandIn::Start());
  }
  std::wstring Copy() { return Utility::CopyTemplateIntoTrustedFolder(L"Zentrello"); }

  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  test::WordStandIn word;
  ProductTemplate files;
};

TEST_F(TemplateCopy, AMissingCopyIsMadeAndItsQuotedPathReturned) {
  UseWord(L"12.0");
  ProductTemplate::Write(files.Source(L".dot"), "dot template");
  ProductTemplate::Write(files.Source(L".dotm"), "dotm template");
  EXPECT_EQ(Copy(), L"\"" + files.Copy(L".dotm") + L"\"");
  EXPECT_EQ(ProductTemplate::Read(files.Copy(L".dotm")), "dotm template");
  EXPECT_EQ(ProductTemplate::Read(files.Copy(L".dot")), "<missing>");
  EXPECT_EQ(Utility::SRC_PATH(L"Zentrello"), L"C:\\Program Files\\Valdomeren\\Zentrello\\");
}

TEST_F(TemplateCopy, TheCopyIsReplacedOnlyWhenItsTimeDiffersFromTheDotSource) {
  UseWord(L"12.0");
  ProductTemplate::Write(files.Source(L".dot"), "dot template");
  ProductTemplate::Write(files.Source(L".dotm"), "dotm template v2");
  const FILETIME source = ProductTemplate::Time(files.Source(L".dot"));

  // Same time as the ".dot" source: left alone, whatever it holds.
  ProductTemplate::Write(files.Copy(L".dotm"), "user's copy");
  ProductTemplate::SetTime(files.Copy(L".dotm"), source);
  EXPECT_FALSE(Utility::NeedToCopy(L"Zentrello", files.Copy(L".dotm")));
  Copy();
  EXPECT_EQ(ProductTemplate::Read(files.Copy(L".dotm")), "user's copy");

  // Older or newer: overwritten.
  for (LONGLONG shift : {-3600LL, 3600LL}) {
    ProductTemplate::Write(files.Copy(L".dotm"), "stale copy");
    ProductTemplate::SetTime(files.Copy(L".dotm"), Shifted(source, shift));
    EXPECT_TRUE(Utility::NeedToCopy(L"Zentrello", files.Copy(L".dotm"))) << shift;
    Copy();
    EXPECT_EQ(ProductTemplate::Read(files.Copy(L".dotm")), "dotm template v2") << shift;
  }
  // Only the low half differs: still different.
  ProductTemplate::SetTime(files.Copy(L".dotm"), FILETIME{source.dwLowDateTime ^ 1, source.dwHighDateTime});
  EXPECT_TRUE(Utility::NeedToCopy(L"Zentrello", files.Copy(L".dotm")));
}

TEST_F(TemplateCopy, WithoutTheDotSourceTheCopyIsMadeOnEveryCall) {
  UseWord(L"12.0");
  ProductTemplate::Write(files.Source(L".dotm"), "dotm template");
  Copy();
  EXPECT_EQ(ProductTemplate::Read(files.Copy(L".dotm")), "dotm template");
  ProductTemplate::Write(files.Copy(L".dotm"), "changed by hand");
  EXPECT_EQ(Utility::getTime(files.Source(L".dot")).dwHighDateTime, 0u);
  Copy();
  EXPECT_EQ(ProductTemplate::Read(files.Copy(L".dotm")), "dotm template");
}

TEST_F(TemplateCopy, AMissingSourceFailsSilentlyAndStillAnswersThePath) {
  UseWord(L"12.0");
  EXPECT_EQ(Copy(), L"\"" + files.Copy(L".dotm") + L"\"");
  EXPECT_EQ(ProductTemplate::Read(files.Copy(L".dotm")), "<missing>");
}

TEST(Files, FileExistsIsFalseForFoldersAndMissingPaths) {
  test::StartedTrap trap;
  test::ReporterStandIn reporter;
  ProductTemplate files;
  ProductTemplate::Write(files.Source(L".dot"), "x");
  EXPECT_TRUE(Utility::fileExists(files.Source(L".dot")));
  EXPECT_FALSE(Utility::fileExists(files.Source(L".dotm")));
  EXPECT_FALSE(Utility::fileExists(Utility::SRC_PATH(L"Zentrello")));
  EXPECT_FALSE(Utility::fileExists(L"Q:\\no\\such\\drive.dot"));
  EXPECT_FALSE(Utility::fileExists(L""));
  const FILETIME none = Utility::getTime(L"Q:\\no\\such\\drive.dot");
  EXPECT_EQ(none.dwLowDateTime | none.dwHighDateTime, 0u);
  EXPECT_EQ(reporter.Count(L"vbwErrorHandler"), 0);
}

TEST(SpecialFolders, KnownFoldersEndInABackslashAndAnUnknownOneShowsAMessage) {
  test::StartedTrap trap;
  int32_t programFiles = GetSpecialFolder::CSIDL_PROGRAM_FILES, appData = GetSpecialFolder::CSIDL_APPDATA;
  EXPECT_EQ(GetSpecialFolder::fGetSpecialFolder(programFiles), L"C:\\Program Files\\");
  const std::wstring roaming = GetSpecialFolder::fGetSpecialFolder(appData);
  EXPECT_EQ(roaming.substr(roaming.size() - 17), L"\\AppData\\Roaming\\");

  test::DialogWatch watch;
  int32_t unknown = 0x7777;
  const std::wstring result = GetSpecialFolder::fGetSpecialFolder(unknown);
  const auto seen = watch.Result();
  ASSERT_TRUE(seen.appeared);
  EXPECT_EQ(seen.text, L"Could not get special folder");
  EXPECT_EQ(seen.title, L"Tamberlux");
  EXPECT_EQ(result, std::wstring(MAX_PATH, L'\0')) << "the untouched buffer, which is no path";
}

TEST(Warnings, WarnUserOfCrashNamesTheMissingFileOrAsksForAReboot) {
  test::StartedTrap trap;
  Main2 main2;
  {
    test::DialogWatch watch;
    main2.WarnUserOfCrash(L"Zentrello", L"DartWeb.dll", L"http://downloads.example/DartWeb.exe", false);
    const auto seen = watch.Result();
    EXPECT_EQ(seen.text,
              L"Microsoft Word will now exit because Zentrello is missing one of the files that it needs to run: "
              L"DartWeb.dll.\r\nTo fix this problem, please download and install it from:\r\n"
              L"http://downloads.example/DartWeb.exe");
    EXPECT_EQ(seen.title, L"You need to reinstall DartWeb.dll");
  }
  test::DialogWatch watch;
  main2.WarnUserOfCrash(L"Zentrello", L"scrrun.dll", L"", true);
  const auto seen = watch.Result();
  EXPECT_EQ(seen.text,
            L"Microsoft Word will now exit because Zentrello needs to reboot your computer to finish installing.\r\n"
            L"Please reboot your computer to fix this problem.");
  EXPECT_EQ(seen.title, L"You need to reboot your computer");
}

}  // namespace
}  // namespace tamberlux
