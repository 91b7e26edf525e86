#include "component/ReenableForm.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>

#include "base/ComObject.h"
#include "base/SystemFunction.h"
#include "errortrap/Procedure.h"
#include "support/CommonWordWindowFunctions.h"

namespace tamberlux {

using vbw::Var;

namespace {

// The design, in twips (1,440 to the inch), in tab order.
constexpr int kDesignWidth = 5295, kDesignHeight = 1605;
struct Control {
  const wchar_t* name;
  int id;
  bool button;
  const wchar_t* caption;  // null: replaced at run time
  int left, top, width, height;
};
enum ControlId { kReenableId = 100, kDisableId, kQuestionId, kPermanentId, kInstructionsId };
constexpr Control kControls[] = {
    {L"ReenableButton", kReenableId, true, L"Re-enable", 3480, 120, 1695, 375},
    {L"DisableButton", kDisableId, true, L"Disable just this time", 3480, 600, 1695, 375},
    {L"questionLabel", kQuestionId, false, nullptr, 120, 120, 2775, 495},
    {L"PermanentDisableButton", kPermanentId, true, L"Disable permanently", 3480, 1080, 1695, 375},
    {L"ManualInstructionsLabel", kInstructionsId, false, nullptr, 120, 840, 3255, 615},
};
constexpr size_t kQuestion = 2, kPermanent = 3, kInstructions = 4;
constexpr int kCaptionMargin = 45;  // room either side of a button's caption
constexpr int kFontSize100 = 825;  // Tahoma 8.25 pt, in hundredths of a point
constexpr UINT kComeForward = WM_APP + 1;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFOREGROUND;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME;

using Font = Unique<HFONT, &DeleteObject>;

// The DPI functions of newer Windows, where they exist.
struct DpiFunctions {
  HANDLE(WINAPI* setThreadContext)(HANDLE) = nullptr;
  UINT(WINAPI* forWindow)(HWND) = nullptr;
  BOOL(WINAPI* adjustForDpi)(RECT*, DWORD, BOOL, DWORD, UINT) = nullptr;
  BOOL(WINAPI* parametersForDpi)(UINT, UINT, void*, UINT, UINT) = nullptr;
  HRESULT(WINAPI* processAwareness)(HANDLE, int*) = nullptr;
  HRESULT(WINAPI* forMonitor)(HMONITOR, int, UINT*, UINT*) = nullptr;
  Module shcore;

  DpiFunctions() : shcore(SystemLibrary(L"shcore.dll")) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    Load(setThreadContext, user32, "SetThreadDpiAwarenessContext");
    Load(forWindow, user32, "GetDpiForWindow");
    Load(adjustForDpi, user32, "AdjustWindowRectExForDpi");
    Load(parametersForDpi, user32, "SystemParametersInfoForDpi");
    Load(processAwareness, shcore.Get(), "GetProcessDpiAwareness");
    Load(forMonitor, shcore.Get(), "GetDpiForMonitor");
  }
  template <class F>
  static void Load(F& f, HMODULE module, const char* name) {
    if (module) f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
};

const DpiFunctions& Dpi() {
  static const DpiFunctions functions;
  return functions;
}

// Makes the dialog's thread per-monitor aware while it is shown, where
// Windows can (1607 and later); the caller's awareness comes back afterwards.
class PerMonitorAwareness {
 public:
  PerMonitorAwareness() {
    if (!Dpi().setThreadContext) return;
    old_ = Dpi().setThreadContext(reinterpret_cast<HANDLE>(-4));  // per monitor, v2
    if (!old_) old_ = Dpi().setThreadContext(reinterpret_cast<HANDLE>(-3));  // per monitor
  }
  ~PerMonitorAwareness() {
    if (old_) Dpi().setThreadContext(old_);
  }

 private:
  HANDLE old_ = nullptr;
};

UINT SystemDpi() {
  const WindowDC screen(nullptr);
  const int dpi = GetDeviceCaps(screen.Get(), LOGPIXELSY);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

// The DPI the window is drawn at: its monitor's where the window is per-monitor
// aware (or the process is, on Windows 8.1), the system's otherwise.
UINT DpiOf(HWND window) {
  if (Dpi().forWindow) return Dpi().forWindow(window);
  int awareness = 0;
  UINT x = 0, y = 0;
  if (Dpi().processAwareness && Dpi().forMonitor && SUCCEEDED(Dpi().processAwareness(nullptr, &awareness)) &&
      awareness == 2 &&
      SUCCEEDED(Dpi().forMonitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), 0, &x, &y)))
    return y;
  return SystemDpi();
}

int CALLBACK FoundFont(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
  *reinterpret_cast<bool*>(found) = true;
  return 0;
}

// Tahoma 8.25 pt for the DPI, or the system's message font where Tahoma is missing.
HFONT MakeFont(UINT dpi) {
  LOGFONTW font{};
  font.lfCharSet = DEFAULT_CHARSET;
  std::wcscpy(font.lfFaceName, L"Tahoma");
  bool tahoma = false;
  EnumFontFamiliesExW(WindowDC(nullptr).Get(), &font, FoundFont, reinterpret_cast<LPARAM>(&tahoma), 0);
  font.lfHeight = -MulDiv(kFontSize100, static_cast<int>(dpi), 7200);
  if (!tahoma) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (Dpi().parametersForDpi &&
        Dpi().parametersForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi)) {
      font = metrics.lfMessageFont;
    } else if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
      font = metrics.lfMessageFont;
      font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(SystemDpi()));
    }
  }
  return CreateFontIndirectW(&font);
}

HINSTANCE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

// The form as the error report lists it among the loaded forms: an object
// with an identity and no members of its own.
class FormObject final : public ComObject<IDispatch, IID_IDispatch> {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return DISP_E_BADINDEX; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
};

// Lists the form among the loaded forms of an error report while it is shown.
class Loaded {
 public:
  explicit Loaded(IDispatch* form) : form_(form) { vbw::LoadedForms().push_back({L"ReenableForm", form}); }
  ~Loaded() {
    auto& forms = vbw::LoadedForms();
    std::erase_if(forms, [this](const vbw::LoadedForm& f) { return f.form == form_; });
  }

 private:
  IDispatch* form_;
};

}  // namespace

// The dialog while it is shown.
struct ReenableForm::Window {
  ReenableForm* form;
  HWND owner;
  HWND dialog = nullptr;
  HWND controls[std::size(kControls)] = {};
  HWND tooltip = nullptr;
  Font font;

  void Create(HWND window);
  void Layout(UINT dpi, const RECT* suggested);
  void ComeForward();
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

void ReenableForm::Window::Create(HWND window) {
  dialog = window;
  SetWindowTextW(dialog, form->caption_.c_str());
  const HINSTANCE module = ThisModule();
  for (size_t i = 0; i < std::size(kControls); ++i) {
    const Control& c = kControls[i];
    const std::wstring& text = i == kQuestion ? form->question_ : i == kInstructions ? form->instructions_ : L"";
    controls[i] = CreateWindowExW(
        0, c.button ? L"BUTTON" : L"STATIC", c.caption ? c.caption : text.c_str(),
        WS_CHILD | WS_VISIBLE |
            (c.button ? WS_TABSTOP | (c.id == kReenableId ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON)
                      : SS_LEFT | SS_NOPREFIX | SS_EDITCONTROL),
        0, 0, 0, 0, dialog, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), module, nullptr);
  }
  SendMessageW(dialog, DM_SETDEFID, kReenableId, 0);

  INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&classes);
  tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, dialog, nullptr, module,
                            nullptr);
  TTTOOLINFOW tool{};
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = dialog;
  tool.uId = reinterpret_cast<UINT_PTR>(controls[kPermanent]);
  tool.lpszText = const_cast<wchar_t*>(form->instructions_.c_str());
  SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));

  Layout(DpiOf(dialog), nullptr);
  PostMessageW(dialog, kComeForward, 0, 0);
}

// Places the controls for the DPI. A long product name makes a label taller
// (it wraps at word boundaries) and, when one of its words is wider than the
// label, the labels wider and the buttons further right, as far as the work
// area of the monitor allows: beyond that the word is broken inside, as an
// edit control breaks it, and the buttons stay on the screen. A caption that
// the font at this DPI draws wider than its button makes the buttons wider.
// Without a suggested rectangle (a DPI change's), the dialog is centred on
// Word's window, inside the work area of Word's monitor.
void ReenableForm::Window::Layout(UINT dpi, const RECT* suggested) {
  font.Reset(MakeFont(dpi));
  auto px = [dpi](int twips) { return MulDiv(twips, static_cast<int>(dpi), 1440); };
  MONITORINFO monitor{sizeof(monitor)};
  GetMonitorInfoW(suggested ? MonitorFromRect(suggested, MONITOR_DEFAULTTONEAREST)
                            : MonitorFromWindow(owner ? owner : dialog, MONITOR_DEFAULTTONEAREST),
                  &monitor);
  const RECT& work = monitor.rcWork;
  auto adjust = [dpi](RECT& r) {
    if (Dpi().adjustForDpi) Dpi().adjustForDpi(&r, kStyle, FALSE, kExStyle, dpi);
    else AdjustWindowRectEx(&r, kStyle, FALSE, kExStyle);
  };
  RECT edges{0, 0, 0, 0};
  adjust(edges);
  const WindowDC windowDC(dialog);
  const HDC dc = windowDC.Get();
  HGDIOBJ oldFont = SelectObject(dc, font.Get());
  // How wide and tall a label's text is at `width`: `breakWords` breaks a
  // word wider than that, as the labels themselves do.
  auto measure = [dc](const std::wstring& text, int width, bool breakWords = true) {
    RECT r{0, 0, width, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | (breakWords ? DT_EDITCONTROL : 0));
    return r;
  };
  const Control& q = kControls[kQuestion];
  const Control& m = kControls[kInstructions];
  int wider = 0;
  for (const Control& c : kControls)
    if (c.button) {
      RECT r{0, 0, 0, 0};
      DrawTextW(dc, c.caption, -1, &r, DT_CALCRECT | DT_SINGLELINE);
      wider = std::max<int>(wider, r.right + 2 * px(kCaptionMargin) - px(c.width));
    }
  const int room = (work.right - work.left) - (edges.right - edges.left) - px(kDesignWidth) - wider;
  const int extra = std::clamp<int>(std::max(measure(form->question_, px(q.width), false).right - px(q.width),
                                             measure(form->instructions_, px(m.width), false).right - px(m.width)),
                                    0, std::max(0, room));
  const int questionHeight = std::max<int>(px(q.height), measure(form->question_, px(q.width) + extra).bottom);
  // The instructions move down by what the question grew.
  const int instructionsTop = px(m.top) + questionHeight - px(q.height);
  const int instructionsHeight = std::max<int>(px(m.height), measure(form->instructions_, px(m.width) + extra).bottom);
  SelectObject(dc, oldFont);

  for (size_t i = 0; i < std::size(kControls); ++i) {
    const Control& c = kControls[i];
    RECT r{px(c.left), px(c.top), px(c.left) + px(c.width), px(c.top) + px(c.height)};
    if (c.button) OffsetRect(&r, extra, 0), r.right += wider;
    if (i == kQuestion) r.right += extra, r.bottom = r.top + questionHeight;
    if (i == kInstructions) r.right += extra, r.top = instructionsTop, r.bottom = instructionsTop + instructionsHeight;
    // Placed bottom-most one after another: the stacking order is the tab order.
    SetWindowPos(controls[i], HWND_BOTTOM, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOACTIVATE);
    SendMessageW(controls[i], WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
  }
  SendMessageW(tooltip, WM_SETFONT, reinterpret_cast<WPARAM>(font.Get()), TRUE);
  SendMessageW(tooltip, TTM_SETMAXTIPWIDTH, 0, px(4320));

  RECT frame{0, 0, px(kDesignWidth) + extra + wider,
             px(kDesignHeight) + (instructionsTop - px(m.top)) + (instructionsHeight - px(m.height))};
  adjust(frame);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  if (suggested) {
    SetWindowPos(dialog, nullptr, suggested->left, suggested->top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    return;
  }
  RECT around = work;
  if (owner && IsWindowVisible(owner) && !IsIconic(owner)) GetWindowRect(owner, &around);
  const int x = std::clamp<int>((around.left + around.right - width) / 2, work.left,
                                std::max<int>(work.left, work.right - width));
  const int y = std::clamp<int>((around.top + around.bottom - height) / 2, work.top,
                                std::max<int>(work.top, work.bottom - height));
  SetWindowPos(dialog, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

// Word's window may belong to another process, which leaves this one no
// right to take the foreground: the dialog borrows the foreground thread's
// input state for the moment it takes it, then gives the focus to the first
// button.
void ReenableForm::Window::ComeForward() {
  const DWORD mine = GetCurrentThreadId();
  HWND foreground = GetForegroundWindow();
  const DWORD theirs = foreground ? GetWindowThreadProcessId(foreground, nullptr) : 0;
  const bool attached = theirs && theirs != mine && AttachThreadInput(mine, theirs, TRUE);
  SetForegroundWindow(dialog);
  BringWindowToTop(dialog);
  SetActiveWindow(dialog);
  if (attached) AttachThreadInput(mine, theirs, FALSE);
  SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(controls[0]), TRUE);
}

INT_PTR CALLBACK ReenableForm::Window::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(window, DWLP_USER));
  if (!self && message != WM_INITDIALOG) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(window, DWLP_USER, lParam);
      reinterpret_cast<Window*>(lParam)->Create(window);
      return TRUE;
    case kComeForward:
      self->ComeForward();
      return TRUE;
    case WM_DPICHANGED:
      self->Layout(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) return FALSE;
      switch (LOWORD(wParam)) {
        case kReenableId: self->form->ReenableButton_Click(); return TRUE;
        case kDisableId: self->form->DisableButton_Click(); return TRUE;
        case kPermanentId: self->form->PermanentDisableButton_Click(); return TRUE;
        case IDCANCEL: self->form->Hide(); return TRUE;  // Escape: the answer stays as it is
        default: return FALSE;
      }
    case WM_CLOSE:
      self->form->Hide();
      return TRUE;
    default:
      return FALSE;
  }
}

ReenableForm::ReenableForm() : object_(new FormObject(), false) {}

ReenableForm::~ReenableForm() = default;

void ReenableForm::ReportModuleVariables(const void* self) {
  vbw::vbwReportToFile(vbw::kModuleBanner);
  if (self) vbw::ReportVar(L"mCommand", static_cast<const ReenableForm*>(self)->mCommand);
}

Variant ReenableForm::Execute(const std::wstring& productName, HWND owner) {
  Variant result;
  vbw::Proc p(L"ReenableForm.Execute", ReportModuleVariables, {Var(L"productName", productName)}, this);
  p.Run([&] {
    p(101, [&] { mCommand = kDisableThisTime; });
    p(102, [&] { caption_ = L"Re-enable " + productName + L"?"; });
    p(103, [&] { question_ = productName + L" has been disabled.  Would you like to re-enable it?"; });
    p(104, [&] { instructions_ = L"You can re-enable " + productName + L" any time by launching it from the desktop icon."; });
    p(105, [&] {
      bool inOutlook = false;
      Window window{this, owner ? owner : CommonWordWindowFunctions::ActiveDocumentHandle(inOutlook)};
      const Loaded loaded(object_.Get());
      const PerMonitorAwareness awareness;
      struct alignas(4) Template {
        DLGTEMPLATE dialog;
        WORD menu, windowClass, title;
      } design{{kStyle, kExStyle, 0, 0, 0, 0, 0}, 0, 0, 0};
      window_ = &window;
      SetLastError(0);
      const INT_PTR shown = DialogBoxIndirectParamW(ThisModule(), &design.dialog, window.owner, Window::Proc,
                                                    reinterpret_cast<LPARAM>(&window));
      window_ = nullptr;
      if (shown == -1) {
        const DWORD error = GetLastError();
        vb::Check(error ? HRESULT_FROM_WIN32(error) : E_FAIL, L"the re-enable dialog");
      }
    });
    p(106, [&] { result = Variant::Of(static_cast<LONG>(mCommand)); });
  });
  return result;
}

void ReenableForm::Hide() {
  if (window_ && window_->dialog) EndDialog(window_->dialog, 0);
}

void ReenableForm::ReenableButton_Click() {
  vbw::Proc p(L"ReenableForm.ReenableButton_Click", ReportModuleVariables, {}, this);
  p.Run([&] {
    p(201, [&] { mCommand = kReenable; });
    p(202, [&] { Hide(); });
  });
}

void ReenableForm::DisableButton_Click() {
  vbw::Proc p(L"ReenableForm.DisableButton_Click", ReportModuleVariables, {}, this);
  p.Run([&] {
    p(301, [&] { mCommand = kDisableThisTime; });
    p(302, [&] { Hide(); });
  });
}

void ReenableForm::PermanentDisableButton_Click() {
  vbw::Proc p(L"ReenableForm.PermanentDisableButton_Click", ReportModuleVariables, {}, this);
  p.Run([&] {
    p(401, [&] { mCommand = kDisablePermanently; });
    p(402, [&] { Hide(); });
  });
}

}  // namespace tamberlux
