// Temporary: stands for the dependency installer until it lands. Checks only
// that each listed program DLL is present in the product's folder.
#include "component/Main2.h"
#include "support/UtilityFunctions.h"

namespace tamberlux {

bool Main2::EnsureDependenciesAreRegistered(std::wstring& name, std::vector<std::wstring>& dependencies,
                                            std::vector<std::wstring>& dependenciesXPOrLater) {
  for (auto* list : {&dependencies, &dependenciesXPOrLater})
    for (const auto& f : *list)
      if (!UtilityFunctions::fileExists(UtilityFunctions::SRC_PATH(name) + f)) {
        WarnUserOfCrash(name, f, L"http://download.example/Zentrello.exe", false);
        return false;
      }
  return true;
}

}  // namespace tamberlux
