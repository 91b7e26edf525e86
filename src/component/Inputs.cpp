#include "component/Inputs.h"

#include "base/VbError.h"
#include "registry/WordKeys.h"

namespace tamberlux::Inputs {

void RequireProductName(const std::wstring& name) {
  if (!WordKeys::ProductNameProblem(name).empty())
    vb::Raise(vb::kInvalidCall, L"\"" + name + L"\" cannot be a product name");
}

void RequireWordVersion(const std::wstring& version) {
  if (!WordKeys::WordVersionProblem(version).empty())
    vb::Raise(vb::kInvalidCall, L"\"" + version + L"\" cannot be a Word version");
}

}  // namespace tamberlux::Inputs
