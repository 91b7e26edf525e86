// Three pieces of the C and C++ runtimes that the shipped DLL and command take
// in a lighter form than the static libraries would give them. Each is linked
// as an object of its own into those binaries (not from a layer's library),
// so that the linker finds these definitions before it searches the runtime
// libraries for theirs. The test programs link the libraries' own (and meet
// these through the DLL and the command they drive).
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <exception>

// The handler std::terminate calls by default: it ends the process at once.
// The C++ library's own first prints the type of the exception in flight to
// the standard error (which a DLL in Word's process does not have), and
// carries a symbol demangler and a narrow printf for it, about a tenth of the
// DLL. Nothing is meant to get that far in the DLL (every COM boundary turns
// exceptions into errors); msvcrt's abort still reports the abnormal end.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// Every wide formatting call (swprintf, std::to_wstring) ends here. The
// static runtime's own is a complete C99 formatter with its floating-point
// conversion; the formats this code uses (%d %u %ld %lu %lld %llu %x %lX with
// widths, %03.0f, %f) are msvcrt's too, so msvcrt formats them, with the C99
// answer kept: the full length is returned and the text is always ended,
// cut to the buffer when it does not fit.
extern "C" int __cdecl __mingw_vsnwprintf(wchar_t* buffer, size_t count, const wchar_t* format, va_list args) {
  va_list measured;
  va_copy(measured, args);
  const int length = _vscwprintf(format, measured);
  va_end(measured);
  if (length < 0 || count == 0) return length;
  const size_t room = count - 1;
  _vsnwprintf(buffer, room, format, args);
  buffer[static_cast<size_t>(length) < room ? static_cast<size_t>(length) : room] = L'\0';
  return length;
}

// msvcrt's own wcstod, which the headers' wcstod does not reach: they send
// it to the static runtime's __mingw_wcstod.
extern "C" double __cdecl MsvcrtWcstod(const wchar_t* text, wchar_t** end)
    __asm__(__MINGW64_STRINGIFY(__MINGW_USYMBOL(wcstod)));

// Every wcstod call ends here. The static runtime's own carries a complete
// correctly rounded converter (hexadecimal included); msvcrt's converts the
// decimal numbers, and the forms it does not know are read here as the C99
// one reads them: "inf", "infinity" and "nan" in any case (with a sign), and
// hexadecimal with an optional fraction and binary exponent ("0x1.8p3").
extern "C" double __cdecl __mingw_wcstod(const wchar_t* text, wchar_t** end) {
  const wchar_t* p = text;
  while (iswspace(*p)) ++p;
  const bool negative = *p == L'-';
  if (*p == L'-' || *p == L'+') ++p;
  const auto starts = [&p](const wchar_t* word) { return _wcsnicmp(p, word, wcslen(word)) == 0; };
  const auto done = [&](double value, const wchar_t* after) {
    if (end) *end = const_cast<wchar_t*>(after);
    return negative ? -value : value;
  };
  if (starts(L"infinity")) return done(HUGE_VAL, p + 8);
  if (starts(L"inf")) return done(HUGE_VAL, p + 3);
  if (starts(L"nan")) {
    const wchar_t* q = p + 3;
    if (*q == L'(') {
      const wchar_t* r = q + 1;
      while (iswalnum(*r) || *r == L'_') ++r;
      if (*r == L')') q = r + 1;
    }
    return done(NAN, q);
  }
  const auto hex = [](wchar_t c) { return iswxdigit(c) ? (c <= L'9' ? c - L'0' : (c | 0x20) - L'a' + 10) : -1; };
  if (p[0] == L'0' && (p[1] | 0x20) == L'x' && (hex(p[2]) >= 0 || (p[2] == L'.' && hex(p[3]) >= 0))) {
    const wchar_t* q = p + 2;
    double value = 0;
    int exponent = 0;
    for (; hex(*q) >= 0; ++q) value = value * 16 + hex(*q);
    if (*q == L'.')
      for (++q; hex(*q) >= 0; ++q) value = value * 16 + hex(*q), exponent -= 4;
    if ((*q | 0x20) == L'p') {
      const wchar_t* r = q + 1;
      const bool down = *r == L'-';
      if (*r == L'-' || *r == L'+') ++r;
      if (iswdigit(*r)) {
        long shift = 0;
        for (; iswdigit(*r); ++r) shift = shift < 100000 ? shift * 10 + (*r - L'0') : shift;
        exponent += static_cast<int>(down ? -shift : shift);
        q = r;
      }
    }
    const double result = std::ldexp(value, exponent);
    if (std::isinf(result)) errno = ERANGE;
    return done(result, q);
  }
  return MsvcrtWcstod(text, end);
}
