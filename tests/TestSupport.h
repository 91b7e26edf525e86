// Helpers shared by the tests: the COM apartment, the stand-in error reporter
// and a private registry subtree per test.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tamberlux::test {

// Folder of the running test program (the stand-ins are built beside it).
std::wstring BinDir();

// Splits "a\tb\tc" at `sep`.
std::vector<std::wstring> Split(const std::wstring& text, wchar_t sep);

// The stand-in error reporter, loaded from the same DLL that COM creates it
// from, registered under "ZentrelloError.Main2" while the object lives.
class ReporterStandIn {
 public:
  ReporterStandIn();
  ~ReporterStandIn();
  void Answer(std::vector<LONG> codes, LONG then = 7);
  void Fail(const wchar_t* method, int times);
  void Unregister();
  // Each call: method name, then its arguments as text.
  std::vector<std::vector<std::wstring>> Calls() const;
  std::vector<std::wstring> Methods() const;
  int Count(const std::wstring& method) const;

 private:
  HMODULE dll_;
};

// Runs a Windows program to its end and returns what it wrote to stdout.
std::wstring RunAndCapture(const std::wstring& commandLine, DWORD* exitCode = nullptr);

}  // namespace tamberlux::test
