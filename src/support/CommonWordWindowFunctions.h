// The top-level window that shows Word's active document.
#pragma once

#include <windows.h>

#include <string>

namespace tamberlux::CommonWordWindowFunctions {

// Word's main window for its active document, null when none was found. With no
// document open, the first "OpusApp" window. Sets inOutlook2000 when the
// window found is that of a Word 2002 or earlier running as the mail editor.
HWND ActiveDocumentHandle(bool& inOutlook2000);
// The active window when it is of class className, else the first window of
// that class whose caption contains title; null when there is none.
HWND ActiveDocumentHandleImpl(const std::wstring& className, const std::wstring& title);
// The first "OpusApp" window whose whole title contains text (up to a NUL in
// it, where a title ends); null when there is none.
HWND WordWindowShowing(const std::wstring& text);

}  // namespace tamberlux::CommonWordWindowFunctions
