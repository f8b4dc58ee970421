#include "measure/cformat.h"

#include <clocale>
#include <cstdio>
#include <vector>

#if defined(_WIN32)
#include <locale.h>
#else
#include <locale.h>
#endif

namespace measure {
namespace {

#if defined(_WIN32)
_locale_t cLocale() {
  static _locale_t loc = _create_locale(LC_ALL, "C");
  return loc;
}
#else
// Switches the calling thread to the C locale for the lifetime of the guard.
class CLocaleGuard {
 public:
  CLocaleGuard() {
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    m_previous = uselocale(c);
  }
  ~CLocaleGuard() { uselocale(m_previous); }
  CLocaleGuard(const CLocaleGuard&) = delete;
  CLocaleGuard& operator=(const CLocaleGuard&) = delete;

 private:
  locale_t m_previous;
};
#endif

}  // namespace

std::string vcformat(const char* fmt, va_list args) {
  char small[256];
  va_list copy;
  va_copy(copy, args);
#if defined(_WIN32)
  int n = _vsnprintf_l(small, sizeof small, fmt, cLocale(), copy);
#else
  CLocaleGuard guard;
  int n = std::vsnprintf(small, sizeof small, fmt, copy);
#endif
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::vector<char> big(static_cast<size_t>(n) + 1);
#if defined(_WIN32)
  _vsnprintf_l(big.data(), big.size(), fmt, cLocale(), args);
#else
  std::vsnprintf(big.data(), big.size(), fmt, args);
#endif
  return std::string(big.data(), static_cast<size_t>(n));
}

std::string cformat(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  std::string s = vcformat(fmt, args);
  va_end(args);
  return s;
}

int cscan(const char* text, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
#if defined(_WIN32)
  int n = _vsscanf_l(text, fmt, cLocale(), args);
#else
  CLocaleGuard guard;
  int n = std::vsscanf(text, fmt, args);
#endif
  va_end(args);
  return n;
}

}  // namespace measure
