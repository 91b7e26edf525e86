// The error object of a dump's global section: the failing statement's error
// number, description and source, readable late-bound as Number, Description
// and Source.
#pragma once

#include <oaidl.h>

#include "base/ComTypes.h"
#include "base/VbError.h"

namespace tamberlux::vbw {

// A new error object for the reporter.
ComPtr<IDispatch> NewErrObject(const vb::Error& error, const std::wstring& source);

}  // namespace tamberlux::vbw
