// The error log support reads when the error reporter could not be had: one
// JSON line per report in the user's local application data folder
// (Valdomeren\Tamberlux\errors.log), rotated at 256 KiB with one previous
// file kept (errors.log.1). Writing it never fails the caller. With tracing
// on, a failure its procedure skipped is written there too, marked
// "ignored": true. A line left torn by a writer that died keeps its own line:
// the next report starts a new one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tamberlux::vbw::ErrorLog {

constexpr uint64_t kMaxBytes = 256 * 1024;
// How long a writer waits for another process's write to finish before it
// writes without the lock.
constexpr uint32_t kLockWaitMs = 2000;

struct Report {
  std::wstring project, module, procedure;
  int32_t number = 0;
  std::wstring description;
  int32_t line = 0;
  std::vector<std::wstring> stack;       // outermost first
  std::vector<std::wstring> parameters;  // "name = text"
  std::vector<std::wstring> dump;        // the locals, when a dump was asked
  std::wstring reporter;                 // why the reporter could not take it
  bool ignored = false;                  // skipped by its procedure, traced only
};

// The folder of the log and of the repair's backups, created when missing;
// ends with a backslash. Empty when there is no such folder.
std::wstring Folder();
std::wstring Path();
// The report as one JSON object on one line (no line break).
std::wstring ToJson(const Report& report);
void Write(const Report& report) noexcept;
// Why a report could not be written now ("its path is taken by a folder", a
// read-only file, a folder that takes no new file); empty when it can. Leaves
// nothing behind.
std::wstring WriteProblem();

}  // namespace tamberlux::vbw::ErrorLog
