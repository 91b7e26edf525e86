// The libraries the installation needs, made present for a test: the
// infrastructure groups' files in the system folder and their ProgIDs, and
// program DLLs in the product's folder with theirs. Only what was missing is
// added, and it is removed again afterwards.
#pragma once

#include <string>
#include <vector>

namespace tamberlux::test {

class PresentLibraries {
 public:
  // programDlls: file names put in the product's folder ("Example.dll"
  // providing "Example.Main2").
  explicit PresentLibraries(const std::wstring& productName = L"Zentrello",
                            const std::vector<std::wstring>& programDlls = {});
  ~PresentLibraries();
  PresentLibraries(const PresentLibraries&) = delete;
  PresentLibraries& operator=(const PresentLibraries&) = delete;

 private:
  void File(const std::wstring& path);
  void ProgId(const std::wstring& progId);
  std::vector<std::wstring> files_, progIds_;
};

}  // namespace tamberlux::test
