// How every procedure of the component runs under the error trap.
//
// A procedure creates one Proc, which traces the entry (and the exit, when it
// goes out of scope), and writes its body inside Run() as numbered steps:
//
//   std::wstring result;
//   vbw::Proc p(L"RegistryFunctions.ReadRegistry", vbw::BannerOnly,
//               {vbw::Var(L"Group", Group), vbw::Var(L"section", section)});
//   p.Run([&] {
//     p(1, [&] { ... });
//     p(2, [&] { ... });
//   });
//   return result;
//
// When a step fails, the error tail asks the trap with the step's number as
// the line and carries out the answer: retry runs the same step again, ignore
// goes on with the next step, end and exit leave the procedure with the result
// it holds, a dump reports the variables and asks again. After ResumeNext()
// failing steps are skipped without asking and their number is kept in Err(),
// for procedures that must not fail and test the error afterwards; with
// tracing on ("/trace" or the "vbwTrace" setting), each one skipped leaves an
// "ignored" line in the error log.
#pragma once

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/VbError.h"
#include "errortrap/vbwProtector.h"
#include "base/ComTypes.h"
#include "base/LateBound.h"

namespace tamberlux::vbw {

// A procedure's variable as the dump and the parameter trace see it. Holds a
// pointer only; it is read when a dump or a parameter text is needed.
struct VarRef {
  const wchar_t* name;
  const void* p;
  void (*report)(const wchar_t* name, const void* p);
  Variant (*value)(const void* p);
};

Variant ValueOf(const std::wstring& v);
Variant ValueOf(bool v);
Variant ValueOf(int32_t v);
Variant ValueOf(int16_t v);
Variant ValueOf(double v);
Variant ValueOf(HKEY v);
Variant ValueOf(HWND v);
Variant ValueOf(const LateObject& v);
Variant ValueOf(const std::vector<std::wstring>& v);
Variant ValueOf(const VARIANT& v);
Variant ValueOf(const Variant& v);

// A FILETIME and a GUID are reported member by member.
void ReportVar(const wchar_t* name, const FILETIME& v);
void ReportVar(const wchar_t* name, const GUID& v);
template <class T>
void ReportVar(const wchar_t* name, const T& v) {
  vbwReportVariable(name, ValueOf(v), 0);
}

template <class T>
VarRef Var(const wchar_t* name, const T& v) {
  return VarRef{name, &v, [](const wchar_t* n, const void* p) { ReportVar(n, *static_cast<const T*>(p)); },
                [](const void* p) -> Variant {
                  if constexpr (std::is_same_v<T, FILETIME> || std::is_same_v<T, GUID>) {
                    return Variant();
                  } else {
                    return ValueOf(*static_cast<const T*>(p));
                  }
                }};
}

// Writes a module's section of a dump; `self` is the object for a class.
using ModuleReport = void (*)(const void* self);
// The section of a module that has no variables of its own.
void BannerOnly(const void*);

struct LeaveProcedure {};

class Proc {
 public:
  static constexpr int kMaxVars = 16;
  struct Untraced {};

  // qualifiedName: "Module.Procedure", a literal (it is kept on the stack).
  Proc(const wchar_t* qualifiedName, ModuleReport module, std::initializer_list<VarRef> params = {},
       const void* self = nullptr);
  // The trap's own procedures are not traced.
  Proc(Untraced, const wchar_t* qualifiedName, std::initializer_list<VarRef> params = {});
  Proc(const Proc&) = delete;
  Proc& operator=(const Proc&) = delete;
  ~Proc() {
    // vbwProcOut, on the state this procedure already holds.
    if (traced_ && state_->vbwTraceProc && state_->mStackCalls >= 1) --state_->mStackCalls;
  }

  // A local variable, listed in a dump after the parameters.
  template <class T>
  void Local(const wchar_t* name, const T& v) {
    AddVar(Var(name, v));
  }

  template <class F>
  void Run(F&& body) {
    for (;;) {
      try {
        body();
        return;
      } catch (const LeaveProcedure&) {
        return;
      } catch (...) {
        // A failure outside any step: the whole body is the statement.
        try {
          if (OnError(0)) continue;
        } catch (const LeaveProcedure&) {
        }
        return;
      }
    }
  }

  template <class F>
  void operator()(int line, F&& step) {
    for (;;) {
      try {
        step();
        return;
      } catch (const LeaveProcedure&) {
        throw;
      } catch (...) {
        if (!OnError(line)) return;
      }
    }
  }

  // Runs one step with errors ignored and answers its error number (0 when it
  // succeeded); Err() keeps it too.
  template <class F>
  int32_t Try(int line, F&& step) {
    const bool old = resumeNext_;
    resumeNext_ = true;
    err_ = 0;
    (*this)(line, step);
    resumeNext_ = old;
    return err_;
  }

  // Runs one step under the error tail and answers whether it ran to its end:
  // false when the tail went on past it, for a step that guards the rest.
  template <class F>
  bool Completed(int line, F&& step) {
    bool done = false;
    (*this)(line, [&] {
      step();
      done = true;
    });
    return done;
  }

  void ResumeNext() { resumeNext_ = true; }
  int32_t Err() const { return err_; }
  [[noreturn]] void Leave() { throw LeaveProcedure{}; }
  // vbwReportToFile must not dump on a dump answer: it only asks again.
  void NoDump() { noDump_ = true; }
  // "name = text" of each parameter, or of each local variable.
  std::vector<std::wstring> VariableTexts(bool locals) const;

 private:
  void AddVar(const VarRef& v);
  std::wstring ParameterText() const;
  // The error tail. Returns true to retry the step, false to go on with the
  // next one; throws LeaveProcedure to leave.
  bool OnError(int line);
  // With tracing on, a failure skipped under ResumeNext() leaves a line in
  // the error log.
  void TraceIgnored(const vb::Error& error, int line) const noexcept;
  void Dump();

  ProtectorState* state_;
  const wchar_t* name_;
  ModuleReport module_ = nullptr;
  const void* self_ = nullptr;
  bool traced_ = true;
  bool resumeNext_ = false;
  bool noDump_ = false;
  int32_t err_ = 0;
  int varCount_ = 0;
  int paramCount_ = 0;
  VarRef vars_[kMaxVars];
};

}  // namespace tamberlux::vbw
