#include "support/AnsiText.h"

#include <windows.h>

namespace tamberlux {

std::string ToAnsi(const std::wstring& text) {
  if (text.empty()) return {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
  std::string out(n, '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring FromAnsi(const char* bytes, size_t count) {
  // One character per byte, whatever the code page makes of the high half.
  std::wstring out(count, L'\0');
  for (size_t i = 0; i < count; ++i) {
    const auto b = static_cast<unsigned char>(bytes[i]);
    if (b < 0x80 || MultiByteToWideChar(CP_ACP, 0, &bytes[i], 1, &out[i], 1) != 1) out[i] = b;
  }
  return out;
}

}  // namespace tamberlux
