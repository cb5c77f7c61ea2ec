#include "ResourceLookup.h"

#include <cstring>

#include "LanguageChoice.h"

namespace KyRtMuiStandIn {

namespace {

// A string table block holds strings id / 16 * 16 to that + 15, each stored as its length
// followed by that many characters; absent strings have length 0.
const WCHAR* FindStringEntry(HINSTANCE module, UINT id, LANGID language) {
  HRSRC block = ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(id / 16 + 1), language);
  if (!block) return nullptr;
  const WCHAR* entry = static_cast<const WCHAR*>(::LockResource(::LoadResource(module, block)));
  if (!entry) return nullptr;
  for (UINT skip = id % 16; skip > 0; --skip) entry += *entry + 1;
  return *entry ? entry : nullptr;
}

int CopyStringEntry(const WCHAR* entry, LPWSTR buffer, int capacity) {
  int length = *entry;
  if (capacity == 0) {
    *reinterpret_cast<const WCHAR**>(buffer) = entry + 1;
    return length;
  }
  if (length >= capacity) length = capacity - 1;
  std::memcpy(buffer, entry + 1, length * sizeof(WCHAR));
  buffer[length] = L'\0';
  return length;
}

}  // namespace

HRSRC FindResourceInLanguage(HMODULE module, LPCWSTR name, LPCWSTR type, LANGID language) {
  for (LANGID candidate : {language, kBaseLanguage})
    if (HRSRC found = ::FindResourceExW(module, type, name, candidate)) return found;
  return ::FindResourceW(module, name, type);
}

int LoadStringInLanguage(HINSTANCE module, UINT id, LPWSTR buffer, int capacity, LANGID language) {
  if (!buffer || capacity < 0) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  for (LANGID candidate : {language, kBaseLanguage})
    if (const WCHAR* entry = FindStringEntry(module, id, candidate)) return CopyStringEntry(entry, buffer, capacity);
  return ::LoadStringW(module, id, buffer, capacity);
}

ThreadUiLanguageScope::ThreadUiLanguageScope(LANGID language) : previous_(::GetThreadUILanguage()) {
  ::SetThreadUILanguage(language);
}

ThreadUiLanguageScope::~ThreadUiLanguageScope() { ::SetThreadUILanguage(previous_); }

}  // namespace KyRtMuiStandIn
