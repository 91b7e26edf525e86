// The top-level window that shows Word's active document.
#pragma once

#include <cstdint>
#include <string>

namespace tamberlux::CommonWordWindowFunctions {

// Word's main window for its active document, 0 when none was found. With no
// document open, the first "OpusApp" window. Sets inOutlook2000 when the
// window found is that of a Word 2002 or earlier running as the mail editor.
int32_t ActiveDocumentHandle(bool& inOutlook2000);
// The active window when it is of class className, else the first window of
// that class whose caption contains title; 0 when there is none.
int32_t ActiveDocumentHandleImpl(const std::wstring& className, const std::wstring& title);
// The first "OpusApp" window whose whole title contains text (up to a NUL in
// it, where a title ends); 0 when there is none.
int32_t WordWindowShowing(const std::wstring& text);

}  // namespace tamberlux::CommonWordWindowFunctions
