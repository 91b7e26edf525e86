#include "component/Inputs.h"

#include "base/VbError.h"
#include "registry/WordKeys.h"

namespace tamberlux::Inputs {

void RequireProductName(const std::wstring& name) {
  if (!WordKeys::ProductNameProblem(name).empty())
    vb::Raise(vb::kInvalidCall, L"\"" + name + L"\" cannot be a product name");
}

void RequireUsableWord(const LateObject& word) {
  if (!word) vb::Raise(vb::kWordCannotBeNothing, L"word cannot be nothing");
  try {
    word.Get(L"Version");
  } catch (...) {
    const vb::Error e = vb::CurrentError();
    vb::Raise(vb::kWordCannotBeNothing, L"word is not a Word that answers its Version (error " +
                                            std::to_wstring(e.number) + L": " + e.description + L")");
  }
}

void RequireWordVersion(const std::wstring& version) {
  if (!WordKeys::WordVersionProblem(version).empty())
    vb::Raise(vb::kInvalidCall, L"\"" + version + L"\" cannot be a Word version");
}

}  // namespace tamberlux::Inputs
