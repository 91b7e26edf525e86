// The product's template and its copy in the folder Word trusts; the special folders behind them are
// the ones these paths are made of. (The installer tests read the warning shown before Word must exit.)
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "support/CommonWordInteractionFunctions.h"
#include "support/GetSpecialFolder.h"
#include "support/UtilityFunctions.h"

namespace tamberlux {
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
  enum Copy { kNone, kSameTime, kOlder, kNewer, kLowHalf };
  struct Case { const char* what; bool dotSource, dotmSource; Copy copy; std::string after; } const cases[] = {
      {"a missing copy is made", true, true, kNone, "dotm template"},
      {"the .dot source's time: left alone, whatever it holds", true, true, kSameTime, "user's copy"},
      {"older: replaced", true, true, kOlder, "dotm template"},
      {"newer: replaced", true, true, kNewer, "dotm template"},
      {"only the low half of the time differs: replaced", true, true, kLowHalf, "dotm template"},
      {"no .dot source: replaced on every call", false, true, kSameTime, "dotm template"},
      {"no source at all: nothing, silently", false, false, kNone, "<missing>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ProductTemplate files;
    if (c.dotSource) WriteWholeFile(files.Source(L".dot"), "dot template");
    if (c.dotmSource) WriteWholeFile(files.Source(L".dotm"), "dotm template");
    const FILETIME t = ProductTemplate::Time(files.Source(L".dot"));
    ULARGE_INTEGER hour{{t.dwLowDateTime, t.dwHighDateTime}};
    hour.QuadPart += (c.copy == kOlder ? -3600LL : 3600LL) * 10000000LL;
    if (c.copy != kNone) WriteWholeFile(files.Copy(L".dotm"), "user's copy");
    if (c.copy == kSameTime) ProductTemplate::SetTime(files.Copy(L".dotm"), t);
    if (c.copy == kOlder || c.copy == kNewer)
      ProductTemplate::SetTime(files.Copy(L".dotm"), {hour.LowPart, hour.HighPart});
    if (c.copy == kLowHalf) ProductTemplate::SetTime(files.Copy(L".dotm"), {t.dwLowDateTime ^ 1, t.dwHighDateTime});
    EXPECT_EQ(Utility::CopyTemplateIntoTrustedFolder(L"Zentrello"), L"\"" + files.Copy(L".dotm") + L"\"");
    EXPECT_EQ(ReadWholeFile(files.Copy(L".dotm")), c.after);
    EXPECT_EQ(ReadWholeFile(files.Copy(L".dot")), "<missing>") << "Word 12 uses the .dotm copy only";
  }
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

}  // namespace
}  // namespace tamberlux
