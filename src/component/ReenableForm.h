// ReenableForm: the product's one dialog. It asks whether to re-enable the
// add-in that Word disabled, to leave it off this time, or to switch it off
// for good. A modal Win32 dialog owned by Word's main window, laid out from
// its design in twips for the DPI of the monitor it appears on.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "base/ComTypes.h"

namespace tamberlux {

class ReenableForm {
 public:
  // The user's answers, as mCommand holds them and Execute answers them.
  enum Command : int32_t { kReenable = 0, kDisableThisTime = 1, kDisablePermanently = 2 };

  ReenableForm();
  ~ReenableForm();
  ReenableForm(const ReenableForm&) = delete;
  ReenableForm& operator=(const ReenableForm&) = delete;

  // Shows the dialog for the product and answers mCommand, a Long in a
  // variant. Closed without a button (Escape, the close box) it answers 1.
  // It is owned by `owner`, or without one by the window of Word's active document.
  Variant Execute(const std::wstring& productName, HWND owner = nullptr);

  // The buttons: each sets mCommand and hides the form, which ends the show.
  void ReenableButton_Click();
  void DisableButton_Click();
  void PermanentDisableButton_Click();

  // The form's section of a variable dump.
  static void ReportModuleVariables(const void* self);

  // The user's answer.
  int32_t mCommand = kReenable;

 private:
  struct Window;
  void Hide();

  std::wstring caption_, question_, instructions_;
  Window* window_ = nullptr;  // while shown
  ComPtr<IDispatch> object_;  // the form as the error report lists it while loaded
};

}  // namespace tamberlux
