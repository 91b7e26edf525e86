// Downloads from the vendor's server: the server's address, the class HTTP
// that fetches an installer into the Internet cache, and the checks a
// download passes before anything runs it.
#pragma once

#include <windows.h>

#include <string>

namespace tamberlux {

namespace DownloadServer {
// The machine-wide address ("http://…" or "https://…", no final "/"), or the
// default when none is set; the empty text when the value set is refused
// (InstallerSettings says why), so that nothing is fetched from it.
std::wstring Address();
// The SHA-256 of a file in lower-case hex, or the empty text when it cannot
// be read or hashed.
std::wstring Sha256OfFile(const std::wstring& path);
}  // namespace DownloadServer

class HTTP {
 public:
  // Fetches myUrl into the Internet cache and answers the local file's path,
  // or the empty text when the download failed, was cancelled, answered an
  // HTTP error, or does not match the machine's pin for its server path.
  // A download that lasts longer than about half a second shows a window with
  // productName, the file, the bytes received and Cancel. Never reports.
  std::wstring DownloadFile(std::wstring& myUrl, const std::wstring& productName = L"");

  static void ReportModuleVariables(const void*);
};

}  // namespace tamberlux
