#include "base/Text.h"

#include <windows.h>

namespace tamberlux {

std::string ToAnsi(const std::wstring& text, unsigned codePage) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring FromAnsi(const char* bytes, size_t count, unsigned codePage) {
  if (count == 0) return {};
  const int n = MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(count), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(codePage, 0, bytes, static_cast<int>(count), out.data(), n);
  return out;
}

std::wstring OneCharPerByte(const char* bytes, size_t count) {
  // One character per byte, whatever the code page makes of the high half.
  std::wstring out(count, L'\0');
  for (size_t i = 0; i < count; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80 || MultiByteToWideChar(CP_ACP, 0, &bytes[i], 1, &out[i], 1) != 1) out[i] = b;
  }
  return out;
}

bool SurvivesAnsi(const std::wstring& text) {
  if (text.empty()) return true;
  BOOL lost = FALSE;
  const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), nullptr,
                                    0, nullptr, &lost);
  if (n <= 0 || lost) return false;
  std::string bytes(n, '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), static_cast<int>(text.size()), bytes.data(), n,
                      nullptr, &lost);
  std::wstring back(n, L'\0');
  back.resize(MultiByteToWideChar(CP_ACP, 0, bytes.data(), n, back.data(), n));
  return !lost && back == text;
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring FromUtf8(const std::string& bytes) {
  if (bytes.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring out(n, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), out.data(), n);
  return out;
}

std::wstring LowerCase(std::wstring text) {
  if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

std::wstring Escaped(std::wstring_view text, EscapeForm form) {
  std::wstring out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    if (form == EscapeForm::kJson) {
      const wchar_t* named = nullptr;
      switch (c) {
        case L'"': named = L"\\\""; break;
        case L'\\': named = L"\\\\"; break;
        case L'\n': named = L"\\n"; break;
        case L'\r': named = L"\\r"; break;
        case L'\t': named = L"\\t"; break;
      }
      if (named) {
        out += named;
        continue;
      }
    }
    if (c >= 0x20 && (c < 0x7F || (c > 0x7F && form != EscapeForm::kBytes))) {
      out += c;
      continue;
    }
    wchar_t escape[8];
    swprintf(escape, 8, form == EscapeForm::kJson ? L"\\u%04x" : L"\\x%02x", static_cast<unsigned>(c));
    out += escape;
  }
  return out;
}

std::wstring JsonString(const std::wstring& text) { return L"\"" + Escaped(text, EscapeForm::kJson) + L"\""; }

}  // namespace tamberlux
