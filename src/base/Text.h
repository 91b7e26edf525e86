// Text as the component hands it to the platform and to people: the ANSI code
// page for the ANSI platform functions, UTF-8 for consoles and logs, and the
// one lower-casing that decides which list entry is the product's. Text is
// converted as whole strings (a double-byte code page's characters take two
// bytes); only binary data is read one character per byte.
#pragma once

#include <string>
#include <string_view>

namespace tamberlux {

// codePage 0 is the system's ANSI code page; another number names the code
// page to use instead.
std::string ToAnsi(const std::wstring& text, unsigned codePage = 0);
std::wstring FromAnsi(const char* bytes, size_t count, unsigned codePage = 0);
// Binary data as text: one character per byte, so a byte count stays a
// character count (a byte the code page cannot map alone keeps its value).
std::wstring OneCharPerByte(const char* bytes, size_t count);
// True when text goes through the ANSI code page and back unchanged (no
// best-fit look-alikes, nothing lost).
bool SurvivesAnsi(const std::wstring& text);

std::string ToUtf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& bytes);

// Lower case as the system's locale-independent mapping gives it; non-ASCII
// letters included.
std::wstring LowerCase(std::wstring text);

// How escaped characters are written. kJson: JSON's own escapes (\" \\ \n \r
// \t) and \u00XX for the other control characters. kTerminal: \xXX for each
// control character (below 0x20, and DEL); everything else as it is. kBytes:
// text that holds one byte per character (OneCharPerByte): \xXX for every byte
// that is not printable ASCII.
enum class EscapeForm { kJson, kTerminal, kBytes };
std::wstring Escaped(std::wstring_view text, EscapeForm form);

// A JSON string literal: quotes, backslashes and control characters escaped.
std::wstring JsonString(const std::wstring& text);

}  // namespace tamberlux
