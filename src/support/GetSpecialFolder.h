// Shell special folders by CSIDL number.
#pragma once

#include <cstdint>
#include <string>

namespace tamberlux::GetSpecialFolder {

constexpr int32_t CSIDL_APPDATA = 26;
constexpr int32_t CSIDL_PROGRAM_FILES = 38;
constexpr int32_t CSIDL_PROGRAM_FILES_COMMON = 43;

// The folder's path ending in "\". When the shell cannot answer: the usual
// place for Program Files and its Common Files, and for anything else a
// message and a buffer of NULs, which is no path.
std::wstring fGetSpecialFolder(int32_t& CSIDL);

}  // namespace tamberlux::GetSpecialFolder
