// Registration of the product's two COM add-ins with Word, and taking the
// product's add-in off Word's disabled and startup lists.
// Step numbers in this file start at 30000.
#include "component/Main2.h"
#include "component/Inputs.h"
#include "errortrap/Procedure.h"
#include "registry/RegistryFunctions.h"
#include "registry/WordKeys.h"

namespace tamberlux {

using vbw::Var;
namespace reg = RegistryFunctions;
using namespace WordKeys;


void Main2::EnableComAddins() {
  vbw::Proc p(L"Main2.EnableComAddins", ReportModuleVariables, {}, this);
  p.Run([&] {
    p(30101, [&] { EnableComAddin(kComAddins[0].progId, kComAddins[0].friendlyName, kComAddins[0].description); });
    p(30102, [&] { EnableComAddin(kComAddins[1].progId, kComAddins[1].friendlyName, kComAddins[1].description); });
  });
}

void Main2::EnableComAddin(const std::wstring& progId, const std::wstring& friendlyName,
                           const std::wstring& description) {
  vbw::Proc p(L"Main2.EnableComAddin", ReportModuleVariables,
              {Var(L"progId", progId), Var(L"friendlyName", friendlyName), Var(L"description", description)}, this);
  std::wstring key;
  p.Local(L"key", key);
  p.Run([&] {
    p(30201, [&] { key = kComAddinsKey + progId; });
    p(30202, [&] { reg::WriteRegistry(HKEY_CURRENT_USER, key, kFriendlyName, reg::REG_SZ_TYPE, Variant::Of(friendlyName)); });
    p(30203, [&] { reg::WriteRegistry(HKEY_CURRENT_USER, key, kDescription, reg::REG_SZ_TYPE, Variant::Of(description)); });
    p(30204, [&] { reg::WriteRegistry(HKEY_CURRENT_USER, key, kLoadBehavior, reg::REG_DWORD_TYPE, Variant::Of(3)); });
    p(30205, [&] { reg::WriteRegistry(HKEY_CURRENT_USER, key, kCommandLineSafe, reg::REG_DWORD_TYPE, Variant::Of(0)); });
  });
}

void Main2::enableTamberlux(const std::wstring& name, const std::wstring& version) {
  vbw::Proc p(L"Main2.enableTamberlux", ReportModuleVariables, {Var(L"name", name), Var(L"version", version)}, this);
  std::wstring disabledValue;
  p.Local(L"disabledValue", disabledValue);
  p.Run([&] {
    if (!p.Completed(30300, [&] { Inputs::RequireWordVersion(version); })) return;
    p(30301, [&] { disabledValue = tamberluxDisabled(name, version); });
    if (disabledValue.empty()) return;
    p(30302, [&] { reg::DeleteValue(HKEY_CURRENT_USER, resiliencyKey(version) + kDisabledItems, disabledValue); });
    p(30303, [&] { reg::DeleteSubkey(HKEY_CURRENT_USER, resiliencyKey(version) + kStartupItems); });
  });
}

std::wstring Main2::resiliencyKey(const std::wstring& version) {
  std::wstring result;
  vbw::Proc p(L"Main2.resiliencyKey[Get]", ReportModuleVariables, {Var(L"version", version)}, this);
  p.Run([&] { p(30401, [&] { result = ResiliencyKey(version); }); });
  return result;
}

std::wstring Main2::productSection(const std::wstring& productName) {
  std::wstring result;
  vbw::Proc p(L"Main2.productSection[Get]", ReportModuleVariables, {Var(L"productName", productName)}, this);
  p.Run([&] { p(30501, [&] { result = ProductSection(productName); }); });
  return result;
}

}  // namespace tamberlux
