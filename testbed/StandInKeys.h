// Where the stand-ins are told what to do and where they leave what they saw,
// shared by the stand-ins, the tests that drive them and the benchmarks.
#pragma once

namespace tamberlux::standin {

// The tests' own registry area; private user hives and kept keys live below it (HKEY_CURRENT_USER).
inline constexpr wchar_t kTestsKey[] = L"Software\\TamberluxTests\\";
// The stand-in Word's class ("Word.Application", a local server).
inline constexpr wchar_t kWordClsid[] = L"{5F0C3B7E-6A41-4D2E-8B19-2C7E4A90D613}";
inline constexpr wchar_t kWordProgId[] = L"Word.Application";
// Started by a test rather than by COM, the stand-in Word sets the named event that follows this option once its
// class is registered.
inline constexpr wchar_t kWordReadyOption[] = L"--ready";
// The stand-in Word's script (HKEY_LOCAL_MACHINE).
inline constexpr wchar_t kWordScriptKey[] = L"Software\\TamberluxTests\\WordStandIn";
// The stand-in installer's orders (HKEY_LOCAL_MACHINE).
inline constexpr wchar_t kInstallerKey[] = L"Software\\TamberluxTests\\InstallerStandIn";
// How often each stand-in library registered itself, by ProgID (HKEY_CURRENT_USER).
inline constexpr wchar_t kRegistrationsKey[] = L"Software\\TamberluxTests\\Registrations";
// The stand-in error reporter.
inline constexpr wchar_t kReporterProgId[] = L"ZentrelloError.Main2";
inline constexpr wchar_t kReporterClsid[] = L"{6A1C8F53-2B0E-4C8D-9E51-7D2F0A93B4C1}";

}  // namespace tamberlux::standin
