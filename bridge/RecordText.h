// Small pieces shared by the record kinds: placeholder replacement and code-to-text tables.
#pragma once

#include <windows.h>

#include <string>

// Field ids and the details token every record kind uses.
constexpr DWORD kUserFieldId = 601;
constexpr DWORD kSummaryFieldId = 602;
constexpr wchar_t kMainTextToken[] = L"%log_details%";

// Replaces every `placeholder` (percent signs included) in `text` by `value`, left to right,
// without looking again at what was put in; an empty value removes the placeholder.
void ReplacePlaceholder(std::wstring* text, const wchar_t* placeholder, const std::wstring& value);

// The entry of `table` whose `code` member equals `code`, or null.
template <typename Entry, size_t N>
const Entry* FindByCode(const Entry (&table)[N], long code) {
  for (const Entry& entry : table) {
    if (entry.code == code) return &entry;
  }
  return nullptr;
}
