// Whether Word will load the product's main add-in at its next start, and
// why, from what its registration, Word's resiliency lists, the product's
// settings and Office's policies say. Office's policies come first: the
// machine's and the user's override the user's own state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tamberlux::LoadVerdict {

// A policy value as text (a number for a DWORD) and the hive it came from.
struct Policy {
  std::wstring value, hive;
};

struct Facts {
  std::optional<int32_t> loadBehavior;  // the main add-in's; none: not registered with Word
  bool listed = false;                  // named on Word's DisabledItems or StartupItems
  bool versionKnown = false;            // a recorded Word version: its lists and policies were read
  std::wstring permanentlyDisableAddin;
  std::optional<Policy> addinList, doNotDisable, disableAllAddins, requireAddinSig;
};

struct Verdict {
  std::optional<bool> willLoad;  // none: cannot be told
  std::wstring why;
};

Verdict Decide(const Facts& facts);

}  // namespace tamberlux::LoadVerdict
