// Helpers shared by the tests: the COM apartment, the stand-in error reporter
// and a private registry subtree per test.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace tamberlux::test {

// A COM apartment for the test's thread and a freshly started error trap,
// both undone at the end.
class StartedTrap {
 public:
  StartedTrap();
  ~StartedTrap();
};

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

namespace tamberlux::test {

// Maps HKEY_CURRENT_USER of this process onto a private subtree for the life
// of the object, and deletes the subtree afterwards: each test starts from an
// empty user hive of its own.
class PrivateUserHive {
 public:
  PrivateUserHive();
  ~PrivateUserHive();

 private:
  std::wstring path_;
};

// Raw registry access for arranging and checking state (wide API).
void SetValue(const std::wstring& path, const std::wstring& name, DWORD type, const void* data, DWORD size);
void SetText(const std::wstring& path, const std::wstring& name, const std::wstring& text);
void SetDword(const std::wstring& path, const std::wstring& name, DWORD value);
bool KeyExists(const std::wstring& path);
struct RawValue {
  bool exists = false;
  DWORD type = 0;
  std::vector<BYTE> data;
};
RawValue ReadRaw(const std::wstring& path, const std::wstring& name);
std::vector<std::wstring> ValueNames(const std::wstring& path);

}  // namespace tamberlux::test
