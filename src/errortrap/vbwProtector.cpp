#include "errortrap/vbwProtector.h"

#include <windows.h>

#include <limits>
#include <utility>

#include "base/RegistryDoor.h"
#include "base/ThreadValues.h"
#include "errortrap/ErrObject.h"
#include "errortrap/ErrorLog.h"
#include "errortrap/Procedure.h"

namespace tamberlux::vbw {

const wchar_t kLocalBanner[] =
    L"\r\n**************************\r\n* LOCAL LEVEL VARIABLES  *\r\n**************************\r\n";
const wchar_t kModuleBanner[] =
    L"\r\n**************************\r\n* MODULE LEVEL VARIABLES *\r\n**************************\r\n";
const wchar_t kGlobalBanner[] =
    L"\r\n**************************\r\n* GLOBAL LEVEL VARIABLES *\r\n**************************\r\n";

namespace {

constexpr wchar_t kReporterProgId[] = L"ZentrelloError.Main2";
constexpr wchar_t kSupportAddress[] = L"support@valdomeren.com";
// Where the per-user "Init"/"vbwTrace" setting lives: the settings key of the
// component's application title, as the Visual Basic runtime keeps it.
constexpr wchar_t kSettingsKey[] = L"Software\\VB and VBA Program Settings\\Tamberlux\\Init";
// Label of the runtime objects in the global section of a dump.
constexpr wchar_t kRuntimeName[] = L"Tamberlux";

bool TraceSwitch() {
  if (wcsstr(GetCommandLineW(), L"/trace")) return true;
  RegistryDoor::Value v;
  if (RegistryDoor::Read(HKEY_CURRENT_USER, kSettingsKey, L"vbwTrace", v) != ERROR_SUCCESS || v.type != REG_SZ)
    return false;
  return RegistryDoor::AsText(v) == L"1";
}

// A question the reporter could not take, for the error log. Number -1 is
// the second question after a dump: the error is the one being dumped.
void LogUnreported(int32_t errNumber, const std::wstring& ErrDescription, const std::wstring& ErrProject,
                   const std::wstring& ErrSource, const std::wstring& ErrProcedure, int32_t errLine) {
  try {
    ProtectorState& s = State();
    const bool dumped = errNumber == -1;
    ErrorLog::Report r{ErrProject, ErrSource, ErrProcedure, dumped ? s.err.number : errNumber,
                       dumped ? s.err.description : ErrDescription, errLine};
    for (int i = 1; i <= s.mStackCalls && i <= kStackSize; ++i) r.stack.push_back(StackEntry(i));
    if (s.asking) {
      r.parameters = s.asking->VariableTexts(false);
      if (dumped) r.dump = s.asking->VariableTexts(true);
    }
    r.reporter = s.reporterFailure;
    ErrorLog::Write(r);
  } catch (...) {
    // The log never fails the caller.
  }
}

LateObject CreateReporter() { return NewObject(kReporterProgId, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER); }

VARIANT_BOOL VBool(bool b) { return b ? VARIANT_TRUE : VARIANT_FALSE; }

}  // namespace

ProtectorState& State() {
  thread_local ProtectorState* state = nullptr;
  return ThreadOwned(state);
}

std::vector<LoadedForm>& LoadedForms() {
  thread_local std::vector<LoadedForm>* forms = nullptr;
  return ThreadOwned(forms);
}

void vbwInitializeProtector() {
  ProtectorState& s = State();
  Proc p(Proc::Untraced{}, L"vbwProtector.vbwInitializeProtector");
  p.Run([&] {
    p(101, [&] { s.vbwEmailRecipientAdress = kSupportAddress; });
    p(102, [&] { s.vbwCatchException = true; });
    p(103, [&] { s.vbwTraceLine = TraceSwitch(); });
    p(104, [&] { s.vbwTraceProc = TraceSwitch(); });
    p(105, [&] { s.vbwTraceParameters = s.vbwTraceProc; });
    p(106, [&] {
      s.vbwCallStack = true;
      s.vbwSystemInfo = true;
      s.vbwScreenshot = true;
    });
    p(107, [&] { s.mOldTraceProc = s.vbwTraceProc; });
    p(108, [&] {
      if (s.vbwCallStack) s.vbwTraceProc = true;
    });
    p(109, [&] { s.mStack.fill(nullptr); });
  });
}

std::wstring hash(const std::wstring& ErrSource, int32_t errNumber, int32_t errLine) {
  std::wstring key(1, L'\0');
  key += ErrSource;
  key += L'\x01';
  key += std::to_wstring(errNumber);
  key += L'\x01';
  key += std::to_wstring(errLine);
  key += L'\0';
  return key;
}

bool alwaysIgnore(const std::wstring& StrRememberErrors, const std::wstring& strLastError) {
  return StrRememberErrors.find(strLastError) != std::wstring::npos;
}

int32_t vbwErrorHandler(int32_t errNumber, const std::wstring& ErrDescription,
                        const std::wstring& ErrProject, const std::wstring& ErrSource,
                        const std::wstring& ErrProcedure, int32_t errLine) {
  ProtectorState& s = State();
  if (s.question && s.asking == s.question) {
    // The reporter's own failure while it is asked: bounded here.
    s.reporterFailure = ErrDescription + L" (" + std::to_wstring(errNumber) + L") in " + ErrProcedure;
    return vbwActionExitProcedure;
  }

  int32_t result = 0;
  bool reachReporter = true;
  try {
    if (errNumber != -1) s.strLastError = hash(ErrSource, errNumber, errLine);
    if (alwaysIgnore(s.StrRememberErrors, s.strLastError)) {
      s.mErrorParams = LateObject();
      return vbwActionIgnore;
    }
  } catch (...) {
    reachReporter = false;
  }

  // The reporter this question is asked of, held here: a question asked
  // while this one is open drops the module's reference when it is answered.
  LateObject reporter;
  if (reachReporter) {
    // This question's own key and failure; a question asked while this one
    // is open has its own and must not change what this one remembers or logs.
    const std::wstring key = s.strLastError;
    std::wstring outerFailure = std::exchange(s.reporterFailure, std::wstring());
    ++s.handlerDepth;
    Proc p(Proc::Untraced{}, L"vbwProtector.vbwErrorHandler",
           {Var(L"errNumber", errNumber), Var(L"ErrDescription", ErrDescription), Var(L"ErrProject", ErrProject),
            Var(L"ErrSource", ErrSource), Var(L"ErrProcedure", ErrProcedure), Var(L"errLine", errLine)});
    const Proc* outerQuestion = std::exchange(s.question, &p);
    p.Run([&] {
      p(205, [&] {
        if (s.mErrorParams) {
          reporter = s.mErrorParams;
          return;
        }
        LateObject created = CreateReporter();
        VARIANT_BOOL a = VBool(s.vbwCatchException), b = VBool(s.vbwTraceLine), c = VBool(s.mOldTraceProc),
                     d = VBool(s.vbwCallStack), e = VBool(s.vbwSystemInfo), f = VBool(s.vbwScreenshot);
        created.Call(L"vbwInitializeProtector", {ByRefBool(a), ByRefBool(b), ByRefBool(c), ByRefBool(d), ByRefBool(e), ByRefBool(f)});
        reporter = created;
        s.mErrorParams = std::move(created);
      });
      p(206, [&] {
        LONG number = errNumber, line = errLine;
        SHORT depth = s.mStackCalls;
        Bstr description(ErrDescription), project(ErrProject), source(ErrSource), procedure(ErrProcedure);
        SafeArray stack = StackArray();
        VARIANT stackArg;
        stackArg.vt = VT_BYREF | VT_ARRAY | VT_BSTR;
        SAFEARRAY* sa = stack.Get();
        stackArg.pparray = &sa;
        Variant answer = reporter.Call(
            L"vbwErrorHandler", {ByRef(number), ByRef(description), ByRef(project), ByRef(source),
                                 ByRef(procedure), ByRef(line), ByRef(depth), stackArg});
        result = ToLong(answer);
      });
      p(207, [&] {
        if (result == vbwActionAlwaysIgnore) {
          s.StrRememberErrors += key;
          result = vbwActionIgnore;
        }
      });
    });
    s.question = outerQuestion;
    --s.handlerDepth;
    s.strLastError = key;
    if (!s.reporterFailure.empty()) {
      LogUnreported(errNumber, ErrDescription, ErrProject, ErrSource, ErrProcedure, errLine);
    }
    s.reporterFailure = std::move(outerFailure);
  }

  if (result != vbwActionDumpVariables && result != vbwActionEnd) {
    s.mErrorParams = LateObject();
  } else if (reporter) {
    // Kept for the dump and the second question, even when a question asked
    // meanwhile dropped it.
    s.mErrorParams = reporter;
  }
  return result;
}

namespace {
// One call on the reporter, failing through the forwarder's own tail; each
// forwarder has a step number of its own.
template <class F>
void Forward(const wchar_t* qualifiedName, int step, F&& call, bool noDump = false) {
  Proc p(Proc::Untraced{}, qualifiedName);
  if (noDump) p.NoDump();
  p.Run([&] { p(step, call); });
}
}  // namespace

void vbwOpenDumpFile() {
  Forward(L"vbwProtector.vbwOpenDumpFile", 401, [] { State().mErrorParams.Call(L"vbwOpenDumpFile"); });
}

void vbwCloseDumpFile() {
  Forward(L"vbwProtector.vbwCloseDumpFile", 501, [] { State().mErrorParams.Call(L"vbwCloseDumpFile"); });
}

void vbwReportToFile(const std::wstring& text) {
  Forward(
      L"vbwProtector.vbwReportToFile", 601,
      [&] {
        Bstr t(text);
        State().mErrorParams.Call(L"vbwReportToFile", {ByRef(t)});
      },
      true);
}

void vbwReportVariable(const std::wstring& name, const VARIANT& value, int32_t tab) {
  try {
    Bstr n(name);
    Variant v(value);
    LONG t = tab;
    State().mErrorParams.Call(L"vbwReportVariable", {ByRef(n), ByRef(v), ByRef(t)});
  } catch (...) {
    // A missing or failing reporter is ignored here.
  }
}

void vbwReportObject(const std::wstring& name, IDispatch* object, int32_t tab) {
  Forward(L"vbwProtector.vbwReportObject", 701, [&] {
    Bstr n(name);
    IDispatch* o = object;
    VARIANT objectArg;
    objectArg.vt = VT_BYREF | VT_DISPATCH;
    objectArg.ppdispVal = &o;
    LONG t = tab;
    State().mErrorParams.Call(L"vbwReportObject", {ByRef(n), objectArg, ByRef(t)});
  });
}

void vbwExitThread() {
  try {
    State().mErrorParams.Call(L"vbwExitThread");
  } catch (...) {
    // Ignored: the thread's work ends either way.
  }
  State().mErrorParams = LateObject();
}

void vbwReportModuleVariables() {
  const ProtectorState& s = State();
  vbwReportToFile(kModuleBanner);
  ReportVar(L"mOldTraceProc", s.mOldTraceProc);
  ReportVar(L"vbwEmailRecipientAdress", s.vbwEmailRecipientAdress);
  ReportVar(L"vbwCatchException", s.vbwCatchException);
  ReportVar(L"vbwTraceLine", s.vbwTraceLine);
  ReportVar(L"vbwCallStack", s.vbwCallStack);
  ReportVar(L"vbwSystemInfo", s.vbwSystemInfo);
  ReportVar(L"vbwScreenshot", s.vbwScreenshot);
  ReportVar(L"mStackCalls", s.mStackCalls);
  Variant stack;
  stack.vt = VT_ARRAY | VT_BSTR;
  stack.parray = StackArray().Detach();
  vbwReportVariable(L"mStack", stack, 0);
  ReportVar(L"mErrorParams", s.mErrorParams);
}

void vbwReportGlobalVariables() {
  const ProtectorState& s = State();
  vbwReportToFile(kGlobalBanner);
  ReportVar(L"vbwProtector.vbwTraceProc", s.vbwTraceProc);
  ReportVar(L"vbwProtector.vbwTraceParameters", s.vbwTraceParameters);
  for (const LoadedForm& form : LoadedForms()) vbwReportObject(form.name, form.form, 0);
  // The component has no application, screen or printer objects of its own:
  // they are reported as Nothing under their labels. The error object holds
  // the error being handled.
  const std::wstring runtime = kRuntimeName;
  vbwReportObject(runtime + L".App", nullptr, 0);
  vbwReportObject(L"Err", NewErrObject(s.err, s.errSource).Get(), 0);
  vbwReportObject(runtime + L".Screen", nullptr, 0);
  vbwReportObject(runtime + L".Printer", nullptr, 0);
}

void vbwProcIn(const wchar_t* lProc, const std::wstring& lParameters) {
  ProtectorState& s = State();
  if (s.mStackCalls < std::numeric_limits<int16_t>::max()) {
    ++s.mStackCalls;
  } else {
    const std::wstring proc = lProc ? lProc : L"";
    Proc p(Proc::Untraced{}, L"vbwProtector.vbwProcIn", {Var(L"lProc", proc), Var(L"lParameters", lParameters)});
    p.Run([&] {
      p(301, [&] { vb::Raise(vb::kOverflow); });
    });
  }
  if (s.mStackCalls >= 1 && s.mStackCalls <= kStackSize) s.mStack[s.mStackCalls] = lProc;
}

void vbwProcOut(const wchar_t*) {
  ProtectorState& s = State();
  if (s.mStackCalls >= 1) --s.mStackCalls;
}

std::wstring vbwReportParameter(const std::wstring& name, const VARIANT& value) {
  try {
    Bstr n(name);
    return ToText(State().mErrorParams.Call(L"vbwReportParameter", {ByRef(n), value}));
  } catch (...) {
    return {};
  }
}

std::wstring vbwReportArrayParameter(const std::wstring& name, const VARIANT& value) {
  return vbwReportParameter(name, value);
}

SafeArray StackArray() {
  SAFEARRAYBOUND bound{kStackSize, 1};
  SafeArray sa(SafeArrayCreate(VT_BSTR, 1, &bound));
  if (!sa.Get()) vb::Raise(vb::kOutOfMemory);
  const ProtectorState& s = State();
  for (LONG i = 1; i <= kStackSize; ++i) {
    if (!s.mStack[i]) continue;
    Bstr entry(s.mStack[i]);
    vb::Check(SafeArrayPutElement(sa.Get(), &i, entry.Get()));
  }
  return sa;
}

std::wstring StackEntry(int index) {
  const ProtectorState& s = State();
  if (index < 1 || index > kStackSize || !s.mStack[index]) return {};
  return s.mStack[index];
}

}  // namespace tamberlux::vbw
