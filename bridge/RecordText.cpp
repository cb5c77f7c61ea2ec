#include "RecordText.h"

#include <cwchar>

void ReplacePlaceholder(std::wstring* text, const wchar_t* placeholder, const std::wstring& value) {
  const size_t length = std::wcslen(placeholder);
  if (length == 0) return;
  for (size_t at = text->find(placeholder); at != std::wstring::npos; at = text->find(placeholder, at)) {
    text->replace(at, length, value);
    at += value.size();
  }
}
