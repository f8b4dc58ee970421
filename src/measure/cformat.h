#pragma once
// printf/scanf-style formatting and scanning that always use the C locale, whatever
// the desktop's locale is: files and the wire never carry a decimal comma.
#include <cstdarg>
#include <string>

namespace measure {

/// snprintf in the C locale; returns the formatted text (never truncated).
std::string cformat(const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
std::string vcformat(const char* fmt, va_list args);

/// sscanf in the C locale over a zero-terminated text; returns what sscanf returns.
int cscan(const char* text, const char* fmt, ...)
#if defined(__GNUC__)
    __attribute__((format(scanf, 2, 3)))
#endif
    ;

}  // namespace measure
