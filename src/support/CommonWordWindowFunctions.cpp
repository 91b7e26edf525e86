#include "support/CommonWordWindowFunctions.h"

#include <windows.h>

#include <algorithm>

#include "errortrap/Procedure.h"
#include "base/Text.h"
#include "support/CommonWordInteractionFunctions.h"

namespace tamberlux::CommonWordWindowFunctions {

using vbw::Var;
namespace Word = CommonWordInteractionFunctions;

HWND ActiveDocumentHandle(bool& inOutlook2000) {
  HWND result = nullptr;
  vbw::Proc p(L"CommonWordWindowFunctions.ActiveDocumentHandle[Get]", vbw::BannerOnly,
              {Var(L"inOutlook2000", inOutlook2000)});
  std::wstring title;
  p.Local(L"title", title);
  p.Run([&] {
    int32_t count = 0;
    p(101, [&] { count = ToLong(Word::Documents().Get(L"Count")); });
    if (count == 0) {
      p(102, [&] { result = FindWindowExW(nullptr, nullptr, L"OpusApp", nullptr); });
      return;
    }
    // A Word without an active document gives an empty title.
    p.ResumeNext();
    p(103, [&] { title = ToText(Word::Application().Object(L"ActiveDocument").Get(L"Name")); });
    if (!title.empty()) p(104, [&] { result = ActiveDocumentHandleImpl(L"OpusApp", title); });
    if (!result && Word::isWord2002OrEarlier()) {
      p(105, [&] { result = ActiveDocumentHandleImpl(L"rctrl_renwnd32", title); });
      p(106, [&] { inOutlook2000 = true; });
    }
  });
  return result;
}

HWND ActiveDocumentHandleImpl(const std::wstring& className, const std::wstring& title) {
  HWND result = nullptr;
  vbw::Proc p(L"CommonWordWindowFunctions.ActiveDocumentHandleImpl[Get]", vbw::BannerOnly,
              {Var(L"className", className), Var(L"title", title)});
  p.Run([&] {
    const std::wstring wanted = title.substr(0, title.find(L'\0'));
    HWND active = nullptr;
    p(201, [&] { active = GetActiveWindow(); });
    p(202, [&] {
      for (HWND w = FindWindowExW(nullptr, nullptr, className.c_str(), nullptr); w;
           w = FindWindowExW(nullptr, w, className.c_str(), nullptr)) {
        if (w == active) {
          result = w;
          return;
        }
      }
    });
    if (result) return;
    p(203, [&] {
      for (HWND w = FindWindowExW(nullptr, nullptr, className.c_str(), nullptr); w;
           w = FindWindowExW(nullptr, w, className.c_str(), nullptr)) {
        wchar_t caption[256] = {};
        const int n = GetWindowTextW(w, caption, 255);
        if (std::wstring_view(caption, n > 0 ? n : 0).find(wanted) != std::wstring_view::npos) {
          result = w;
          return;
        }
      }
    });
  });
  return result;
}

HWND WordWindowShowing(const std::wstring& text) {
  HWND result = nullptr;
  vbw::Proc p(L"CommonWordWindowFunctions.WordWindowShowing", vbw::BannerOnly, {Var(L"text", text)});
  p.Run([&] {
    p(301, [&] {
      const std::wstring wanted = text.substr(0, text.find(L'\0'));
      for (HWND w = nullptr; (w = FindWindowExW(nullptr, w, L"OpusApp", nullptr));) {
        std::wstring title(static_cast<size_t>(GetWindowTextLengthW(w)) + 1, L'\0');
        title.resize(static_cast<size_t>(std::max(0, GetWindowTextW(w, title.data(), static_cast<int>(title.size())))));
        if (title.find(wanted) != std::wstring::npos) {
          result = w;
          return;
        }
      }
    });
  });
  return result;
}

}  // namespace tamberlux::CommonWordWindowFunctions
