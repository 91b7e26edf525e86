#include "Console.h"

#include <cstdio>

#include "base/Text.h"

namespace tamberlux::console {

void Print(const std::wstring& text, FILE* to) {
  const std::string utf8 = ToUtf8(text);
  std::fwrite(utf8.data(), 1, utf8.size(), to);
}

int Fail(ExitCode code, const std::wstring& message) {
  Print(L"tamberlux: " + message + L"\n", stderr);
  return code;
}

std::wstring Hex(HRESULT hr) {
  wchar_t text[16];
  swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

std::wstring Json(const std::wstring& text) { return JsonString(text); }

std::wstring JsonOrNull(const std::wstring& text) { return text.empty() ? L"null" : Json(text); }

int RefuseName(const std::wstring& name, const std::wstring& problem) {
  return Fail(kUsage, L"\"" + Shown(name) + L"\" cannot be a product name: " + problem);
}

std::wstring Shown(const std::wstring& text) { return Escaped(text, EscapeForm::kTerminal); }

}  // namespace tamberlux::console
