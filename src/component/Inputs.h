// The one check for each text a caller hands the component that becomes a
// registry key path or a file name. Each raises run-time error 5 ("Invalid
// procedure call or argument") when the text cannot be what it claims, so a
// procedure calls it inside a step and the error trap reports the refusal.
#pragma once

#include <string>

#include "base/LateBound.h"

namespace tamberlux::Inputs {

void RequireProductName(const std::wstring& name);
void RequireWordVersion(const std::wstring& version);
// A usable Word is an object that answers its Version: raises 12345 for
// Nothing, or for an object that does not (not a Word, or a Word that went).
void RequireUsableWord(const LateObject& word);

}  // namespace tamberlux::Inputs
