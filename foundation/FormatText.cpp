#include "FormatText.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace Strata {

size_t FormatIntoV(wchar_t* buffer, size_t capacity, const wchar_t* format, va_list args) noexcept {
  if (!buffer || capacity == 0) return 0;
  buffer[0] = L'\0';
  if (!format) return 0;
  // The CRT's _vsnwprintf keeps the Windows meaning of %s in wide formats; it returns -1 when
  // the text is cut, and then leaves the buffer unterminated.
  int written = _vsnwprintf(buffer, capacity - 1, format, args);
  size_t length = (written < 0 || static_cast<size_t>(written) >= capacity) ? capacity - 1
                                                                              : static_cast<size_t>(written);
  buffer[length] = L'\0';
  return length;
}

size_t FormatInto(wchar_t* buffer, size_t capacity, const wchar_t* format, ...) noexcept {
  va_list args;
  va_start(args, format);
  size_t length = FormatIntoV(buffer, capacity, format, args);
  va_end(args);
  return length;
}

std::wstring FormatV(const wchar_t* format, va_list args) {
  if (!format) return std::wstring();
  va_list counting;
  va_copy(counting, args);
  int needed = _vscwprintf(format, counting);
  va_end(counting);
  if (needed <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(needed) + 1, L'\0');
  FormatIntoV(&text[0], text.size(), format, args);
  text.resize(static_cast<size_t>(needed));
  return text;
}

std::wstring Format(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = FormatV(format, args);
  va_end(args);
  return text;
}

std::wstring SystemMessage(unsigned long code) {
  wchar_t buffer[1025] = {};
  DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                  buffer, ARRAYSIZE(buffer), nullptr);
  while (length > 0 && (buffer[length - 1] == L'\n' || buffer[length - 1] == L'\r' || buffer[length - 1] == L' '))
    --length;
  if (length == 0) return Format(L"Error %lu", code);
  return std::wstring(buffer, length);
}

}  // namespace Strata
