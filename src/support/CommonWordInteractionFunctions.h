// The one Word application the helpers work on (per thread), and questions
// about it.
#pragma once

#include <cstdint>
#include <string>

#include "base/LateBound.h"

namespace tamberlux::CommonWordInteractionFunctions {

// Raises 12345 "word cannot be nothing" for Nothing.
void Initialize(const LateObject& word);
void Terminate();
LateObject Application();
LateObject Documents();
int16_t WordVersion();
bool isWord2002OrEarlier();
bool isWord2007OrLater();
// An OK-only box that Word's window cannot cover; true when it was shown.
bool GuaranteedVisibleMsgBox(const std::wstring& text, const std::wstring& title);

// The major version in a Word version text: "12.0" gives 12, "10,0" 10, "11" 11.
int16_t MajorVersion(const std::wstring& versionText);
void ReportModuleVariables(const void*);

}  // namespace tamberlux::CommonWordInteractionFunctions
