#include "registry/LoadVerdict.h"

namespace tamberlux::LoadVerdict {

namespace {
bool Is(const std::optional<Policy>& p, const wchar_t* value) { return p && p->value == value; }
std::wstring By(const std::optional<Policy>& p) { return L" (policy in " + p->hive + L")"; }
}  // namespace

Verdict Decide(const Facts& f) {
  if (Is(f.disableAllAddins, L"1")) return {false, L"DisableAllAddins turns off every add-in" + By(f.disableAllAddins)};
  if (Is(f.addinList, L"0")) return {false, L"the add-in list policy always disables it" + By(f.addinList)};
  if (!f.loadBehavior) return {false, L"it is not registered with Word"};
  if (Is(f.addinList, L"1")) {
    if (Is(f.requireAddinSig, L"1"))
      return {std::nullopt, L"the add-in list policy always enables it" + By(f.addinList) +
                                L", but RequireAddinSig loads it only when signed by a trusted publisher" +
                                By(f.requireAddinSig)};
    return {true, L"the add-in list policy always enables it" + By(f.addinList)};
  }
  if (*f.loadBehavior != 3) return {false, L"its LoadBehavior is " + std::to_wstring(*f.loadBehavior) + L", not 3"};
  if (f.permanentlyDisableAddin == L"1") return {false, L"PermanentlyDisableAddin is 1: the add-in stays off"};
  if (f.listed && !Is(f.doNotDisable, L"1")) return {false, L"Word's resiliency lists name it: Word has disabled it"};
  if (!f.versionKnown)
    return {std::nullopt, L"registered with LoadBehavior 3, but Word's lists and policies are not known "
                          L"without a recorded Word version"};
  if (Is(f.requireAddinSig, L"1"))
    return {std::nullopt, L"RequireAddinSig loads it only when signed by a trusted publisher" + By(f.requireAddinSig)};
  if (f.listed) return {true, L"Word's lists name it, but DoNotDisableAddinList keeps it enabled" + By(f.doNotDisable)};
  return {true, L"registered with LoadBehavior 3, not on Word's disabled lists, no policy against it"};
}

}  // namespace tamberlux::LoadVerdict
