#include "errortrap/Procedure.h"

#include <cwchar>
#include <limits>
#include <utility>

#include "errortrap/ErrorLog.h"

namespace tamberlux::vbw {

namespace {
constexpr wchar_t kProject[] = L"Tamberlux";
}

Variant ValueOf(const std::wstring& v) { return Variant::Of(v); }
Variant ValueOf(bool v) { return Variant::Of(v); }
Variant ValueOf(int32_t v) { return Variant::Of(static_cast<LONG>(v)); }
Variant ValueOf(int16_t v) { return Variant::Of(static_cast<SHORT>(v)); }
Variant ValueOf(double v) { return Variant::Of(v); }
Variant ValueOf(HKEY v) {
  return Variant::Of(static_cast<LONG>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(v))));
}
// A window handle is 32 bits wide in every process, whatever its bitness (the
// upper half of a 64-bit one repeats the sign): the report shows it as a Long.
Variant ValueOf(HWND v) { return Variant::Of(static_cast<LONG>(reinterpret_cast<intptr_t>(v))); }
Variant ValueOf(const LateObject& v) { return Variant::Of(v.Get()); }
Variant ValueOf(const VARIANT& v) { return Variant(v); }
Variant ValueOf(const Variant& v) { return v; }
Variant ValueOf(const std::vector<std::wstring>& v) {
  SAFEARRAYBOUND bound{static_cast<ULONG>(v.size()), 0};
  SafeArray sa(SafeArrayCreate(VT_BSTR, 1, &bound));
  if (!sa.Get()) vb::Raise(vb::kOutOfMemory);
  for (LONG i = 0; i < static_cast<LONG>(v.size()); ++i) {
    Bstr item(v[i]);
    vb::Check(SafeArrayPutElement(sa.Get(), &i, item.Get()));
  }
  Variant out;
  out.vt = VT_ARRAY | VT_BSTR;
  out.parray = sa.Detach();
  return out;
}

void ReportVar(const wchar_t* name, const FILETIME& v) {
  const std::wstring n = name;
  vbwReportVariable(n + L".dwLowDateTime", Variant::Of(static_cast<double>(v.dwLowDateTime)), 0);
  vbwReportVariable(n + L".dwHighDateTime", Variant::Of(static_cast<double>(v.dwHighDateTime)), 0);
}

void ReportVar(const wchar_t* name, const GUID& v) {
  const std::wstring n = name;
  vbwReportVariable(n + L".Data1", Variant::Of(static_cast<double>(v.Data1)), 0);
  vbwReportVariable(n + L".Data2", Variant::Of(static_cast<LONG>(v.Data2)), 0);
  vbwReportVariable(n + L".Data3", Variant::Of(static_cast<LONG>(v.Data3)), 0);
  SAFEARRAYBOUND bound{8, 0};
  Variant data4;
  data4.vt = VT_ARRAY | VT_UI1;
  data4.parray = SafeArrayCreate(VT_UI1, 1, &bound);
  if (data4.parray) {
    for (LONG i = 0; i < 8; ++i) SafeArrayPutElement(data4.parray, &i, const_cast<BYTE*>(&v.Data4[i]));
  }
  vbwReportVariable(n + L".Data4", data4, 0);
}

void BannerOnly(const void*) { vbwReportToFile(kModuleBanner); }

Proc::Proc(const wchar_t* qualifiedName, ModuleReport module, std::initializer_list<VarRef> params,
           const void* self)
    : state_(&State()), name_(qualifiedName), module_(module), self_(self) {
  for (const VarRef& v : params) AddVar(v);
  paramCount_ = varCount_;
  if (!state_->vbwTraceProc) return;
  if (state_->vbwTraceParameters) {
    vbwProcIn(name_, ParameterText());
  } else if (state_->mStackCalls < std::numeric_limits<int16_t>::max() && state_->mStackCalls >= 0 && state_->mStackCalls < kStackSize) {
    // vbwProcIn with an empty parameter text, on the state already at hand.
    state_->mStack[++state_->mStackCalls] = name_;
  } else {
    vbwProcIn(name_, std::wstring());
  }
}

Proc::Proc(Untraced, const wchar_t* qualifiedName, std::initializer_list<VarRef> params)
    : state_(&State()), name_(qualifiedName), module_(nullptr), traced_(false) {
  for (const VarRef& v : params) AddVar(v);
  paramCount_ = varCount_;
}

void Proc::AddVar(const VarRef& v) {
  if (varCount_ < kMaxVars) vars_[varCount_++] = v;
}

std::wstring Proc::ParameterText() const {
  if (paramCount_ == 0) return L"()";
  std::wstring text = L"(";
  for (int i = 0; i < paramCount_; ++i) {
    if (i) text += L", ";
    const Variant value = vars_[i].value(vars_[i].p);
    text += (value.vt & VT_ARRAY) ? vbwReportArrayParameter(vars_[i].name, value)
                                  : vbwReportParameter(vars_[i].name, value);
  }
  text += L") ";
  return text;
}

std::vector<std::wstring> Proc::VariableTexts(bool locals) const {
  std::vector<std::wstring> texts;
  for (int i = locals ? paramCount_ : 0; i < (locals ? varCount_ : paramCount_); ++i) {
    std::wstring text;
    try {
      const Variant v = vars_[i].value(vars_[i].p);
      const VARIANT& d = v.Deref();
      // An object is not asked for its default value: it may be a Word that is gone.
      if (d.vt & VT_ARRAY) text = L"(array)";
      else if (d.vt == VT_DISPATCH || d.vt == VT_UNKNOWN) text = d.pdispVal ? L"(object)" : L"Nothing";
      else if (d.vt == VT_EMPTY) text = L"(member by member)";
      else text = ToText(d);
    } catch (...) {
      text = L"(no text)";
    }
    texts.push_back(std::wstring(vars_[i].name) + L" = " + text);
  }
  return texts;
}

bool Proc::OnError(int line) {
  vb::Error error = vb::CurrentError();
  if (resumeNext_) {
    err_ = error.number;
    if (state_->vbwTraceLine) TraceIgnored(error, line);
    return false;
  }
  // The log reads this procedure's variables while its question is asked.
  struct Asking {
    ProtectorState* s;
    const Proc* previous;
    ~Asking() { s->asking = previous; }
  } asking{state_, std::exchange(state_->asking, this)};
  const wchar_t* dot = wcschr(name_, L'.');
  const std::wstring source = dot ? std::wstring(name_, dot) : std::wstring();
  const std::wstring procedure = dot ? std::wstring(dot + 1) : std::wstring(name_);
  int32_t number = error.number;
  for (;;) {
    const int32_t action = vbwErrorHandler(number, error.description, kProject, source, procedure, line);
    switch (action) {
      case vbwActionRetry:
        return true;
      case vbwActionIgnore:
        return false;
      case vbwActionDumpVariables:
        state_->err = error;
        state_->errSource = source;
        if (!noDump_) Dump();
        number = -1;
        continue;
      case vbwActionEnd:
        vbwExitThread();
        throw LeaveProcedure{};
      default:
        throw LeaveProcedure{};
    }
  }
}

void Proc::TraceIgnored(const vb::Error& error, int line) const noexcept {
  try {
    const wchar_t* dot = wcschr(name_, L'.');
    ErrorLog::Report r{kProject, dot ? std::wstring(name_, dot) : std::wstring(), dot ? dot + 1 : name_,
                       error.number, error.description, line};
    for (int i = 1; i <= state_->mStackCalls && i <= kStackSize; ++i) r.stack.push_back(StackEntry(i));
    r.ignored = true;
    ErrorLog::Write(r);
  } catch (...) {
    // A trace never fails the procedure.
  }
}

void Proc::Dump() {
  vbwOpenDumpFile();
  vbwReportToFile(kLocalBanner);
  for (int i = 0; i < varCount_; ++i) vars_[i].report(vars_[i].name, vars_[i].p);
  if (module_) {
    module_(self_);
  } else if (!traced_) {
    vbwReportModuleVariables();  // the trap's own procedures
  }
  vbwReportGlobalVariables();
  vbwCloseDumpFile();
}

}  // namespace tamberlux::vbw
