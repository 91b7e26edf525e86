// The error trap: per-thread state, the question to the outside error
// reporter ("ZentrelloError.Main2") and the call stack it is handed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "base/ComTypes.h"
#include "base/LateBound.h"
#include "base/VbError.h"

namespace tamberlux::vbw {

// What the reporter (or the trap) decides for a failing statement.
enum Action : int32_t {
  vbwActionEnd = 3,
  vbwActionRetry = 4,
  vbwActionIgnore = 5,
  vbwActionAlwaysIgnore = 6,
  vbwActionExitProcedure = 7,
  vbwActionDumpVariables = 8,
};

constexpr int kStackSize = 64;

class Proc;

// Module state of vbwProtector; one per thread that runs the component.
struct ProtectorState {
  bool vbwTraceProc = false;
  bool vbwTraceParameters = false;
  bool mOldTraceProc = false;
  std::wstring vbwEmailRecipientAdress;
  bool vbwCatchException = false;
  // The trace switch ("/trace" or the "vbwTrace" setting); vbwTraceProc is
  // on whenever the call stack is kept.
  bool vbwTraceLine = false;
  bool vbwCallStack = false;
  bool vbwSystemInfo = false;
  bool vbwScreenshot = false;
  LateObject mErrorParams;
  int16_t mStackCalls = 0;
  // Index n holds the procedure entered at depth n (1..64); entries above the
  // current depth are stale and stay. Names are the procedures' own literals.
  std::array<const wchar_t*, kStackSize + 1> mStack{};

  // Static state of vbwErrorHandler.
  std::wstring StrRememberErrors;
  std::wstring strLastError;
  // How many questions are open (a question is open while the reporter
  // shows its window; code that re-enters the component meanwhile may fail
  // and ask a question of its own).
  int handlerDepth = 0;
  // The trap's own procedure asking the innermost open question: a failure
  // of that procedure is the reporter's own, answered at once (bounded).
  const Proc* question = nullptr;
  // Why the reporter could not take the innermost open question (its own
  // failure); that question then goes to the error log.
  std::wstring reporterFailure;
  // The procedure whose failure is being asked about.
  const Proc* asking = nullptr;

  // The error being handled, as the runtime's error object holds it.
  vb::Error err{0, {}};
  std::wstring errSource;
};

ProtectorState& State();

// The component's start-up procedure: run once per thread before the first
// Main2 is created there.
void vbwInitializeProtector();

std::wstring hash(const std::wstring& ErrSource, int32_t errNumber, int32_t errLine);
bool alwaysIgnore(const std::wstring& StrRememberErrors, const std::wstring& strLastError);

// Asks for the action on a failure. When the reporter cannot be created or a
// call on it fails, that failure is reported through the trap once more; the
// nested question is answered vbwActionExitProcedure at once instead of
// trying the reporter again, so the outer question returns 0 and the failing
// procedure is left, as any unknown action leaves it. Such a question is
// written to the error log (ErrorLog.h) for support. Any other failure while
// a question is open (code that re-entered the component while the
// reporter's window is up) is a question of its own, asked and answered as
// usual; the open question keeps its own error key and its own outcome.
int32_t vbwErrorHandler(int32_t errNumber, const std::wstring& ErrDescription,
                        const std::wstring& ErrProject, const std::wstring& ErrSource,
                        const std::wstring& ErrProcedure, int32_t errLine);

// Forwarders to the reporter.
void vbwOpenDumpFile();
void vbwCloseDumpFile();
void vbwReportToFile(const std::wstring& text);
void vbwReportVariable(const std::wstring& name, const VARIANT& value, int32_t tab);
void vbwReportObject(const std::wstring& name, IDispatch* object, int32_t tab);
void vbwExitThread();

void vbwReportModuleVariables();  // the trap's own module section
void vbwReportGlobalVariables();

// Call stack.
void vbwProcIn(const wchar_t* lProc, const std::wstring& lParameters);
void vbwProcOut(const wchar_t* lProc);
std::wstring vbwReportParameter(const std::wstring& name, const VARIANT& value);
std::wstring vbwReportArrayParameter(const std::wstring& name, const VARIANT& value);

// The stack as the reporter receives it: 64 strings indexed from 1.
SafeArray StackArray();
std::wstring StackEntry(int index);

extern const wchar_t kLocalBanner[];
extern const wchar_t kModuleBanner[];
extern const wchar_t kGlobalBanner[];

// A form of the component that is loaded now (reported in the global section).
struct LoadedForm {
  const wchar_t* name;
  IDispatch* form;
};
std::vector<LoadedForm>& LoadedForms();

}  // namespace tamberlux::vbw
