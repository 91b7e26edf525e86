// Word's per-version Data key, and the installer's record of a failed check
// for Word 2000 or later.
// Step numbers in this file start at 50000.
#include "component/Main2.h"
#include "component/Inputs.h"
#include "errortrap/Procedure.h"
#include "registry/RegistryBackup.h"
#include "registry/RegistryFunctions.h"
#include "registry/WordKeys.h"
#include "support/CommonLogger.h"

namespace tamberlux {

using vbw::Var;

void Main2::DeleteCorruptedDataFolder(std::wstring& version) {
  vbw::Proc p(L"Main2.DeleteCorruptedDataFolder", ReportModuleVariables, {Var(L"version", version)}, this);
  std::wstring backup;
  p.Local(L"backup", backup);
  p.Run([&] {
    // The version becomes a key path: anything but Word's version shape
    // would delete some other key.
    if (!p.Completed(50100, [&] { Inputs::RequireWordVersion(version); })) return;
    p(50101, [&] { CommonLogger::Log(L"DeleteCorruptedDataFolder"); });
    // The user's data is saved before it goes; without a backup it stays.
    const bool saved = p.Completed(50102, [&] {
      backup = RegistryBackup::Backup(WordKeys::DataKey(version), L"Word" + version + L"Data").value_or(L"");
    });
    if (!saved) return;
    p(50103, [&] {
      RegistryFunctions::DeleteSubkey(HKEY_CURRENT_USER, WordKeys::DataKey(version));
    });
  });
}

bool Main2::failedWord2000CheckOnInstallation(const std::wstring& productName) {
  bool result = false;
  vbw::Proc p(L"Main2.failedWord2000CheckOnInstallation[Get]", ReportModuleVariables,
              {Var(L"productName", productName)}, this);
  p.Run([&] {
    p(50201, [&] {
      result = RegistryFunctions::ReadRegistryString(HKEY_CURRENT_USER, productSection(productName),
                                                     WordKeys::kFailedWord2000Check) == L"1";
    });
  });
  return result;
}

}  // namespace tamberlux
