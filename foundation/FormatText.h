// Wide-string formatting with the Windows printf rules, where "%s" takes a wide string.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace Strata {

// Formats into a buffer of `capacity` characters, cutting what does not fit; the result is always
// terminated. Returns the number of characters stored.
size_t FormatIntoV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) noexcept;
size_t FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) noexcept;

// Formats a text of any length. Throws std::bad_alloc when memory runs out.
std::wstring FormatV(const wchar_t* format, va_list args);
std::wstring Format(const wchar_t* format, ...);

// The system's message text for a Windows error code, without the trailing line end.
std::wstring SystemMessage(unsigned long code);

}  // namespace Strata
