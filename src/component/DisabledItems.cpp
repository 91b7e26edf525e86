// Does one of Word's resiliency lists name the product's add-in, and under
// which registry value?
// Step numbers in this file start at 40000.
#include "component/Main2.h"
#include "component/Inputs.h"
#include "errortrap/Procedure.h"
#include "base/Text.h"
#include "registry/RegistryFunctions.h"
#include "registry/WordKeys.h"

namespace tamberlux {

using vbw::Var;

std::wstring Main2::tamberluxDisabled(const std::wstring& name, const std::wstring& version) {
  std::wstring result;
  vbw::Proc p(L"Main2.tamberluxDisabled", ReportModuleVariables, {Var(L"name", name), Var(L"version", version)},
              this);
  p.Run([&] {
    if (!p.Completed(40100, [&] { Inputs::RequireWordVersion(version); })) return;
    p(40101, [&] { result = tamberluxDisabledImpl(name, version, WordKeys::kDisabledItems); });
    if (!result.empty()) return;
    p(40102, [&] { result = tamberluxDisabledImpl(name, version, WordKeys::kStartupItems); });
  });
  return result;
}

std::wstring Main2::tamberluxDisabledImpl(const std::wstring& name, const std::wstring& version,
                                          const std::wstring& key) {
  std::wstring result;
  vbw::Proc p(L"Main2.tamberluxDisabledImpl", ReportModuleVariables,
              {Var(L"name", name), Var(L"version", version), Var(L"key", key)}, this);
  std::wstring section, valueName, data, lowerName;
  int32_t index = 0;
  p.Local(L"section", section);
  p.Local(L"index", index);
  p.Local(L"valueName", valueName);
  p.Local(L"data", data);
  p.Run([&] {
    p(40201, [&] {
      section = resiliencyKey(version) + key;
      lowerName = LowerCase(name);
    });
    // The list's key is opened once for the walk; each read is still traced.
    const RegistryFunctions::WalkKey walk(HKEY_CURRENT_USER, section);
    p(40202, [&] {
      index = 0;
      valueName = RegistryFunctions::ReadRegistryStringGetAll(HKEY_CURRENT_USER, section, index, data, &walk);
    });
    while (!valueName.empty()) {
      bool match = false;
      p(40203, [&] { match = WordKeys::NamesProduct(lowerName, data); });
      if (match) {
        result = valueName;
        return;
      }
      p(40204, [&] {
        ++index;
        valueName = RegistryFunctions::ReadRegistryStringGetAll(HKEY_CURRENT_USER, section, index, data, &walk);
      });
    }
  });
  return result;
}

}  // namespace tamberlux
