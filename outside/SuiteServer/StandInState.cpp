#include "StandInState.h"

#include <algorithm>

#include "FormatText.h"
#include "StandInKnobs.h"

namespace ZelStandIns {

std::wstring StateKeyPath(const std::wstring& standIn) {
  std::wstring processKey = StandInKnobs::ProcessKeyPath(standIn.c_str(), ::GetCurrentProcessId());
  return OpenKey(HKEY_LOCAL_MACHINE, processKey, false) ? processKey : StandInKnobs::KeyPath(standIn.c_str());
}

Strata::UniqueHkey OpenKey(HKEY parent, const std::wstring& path, bool create) {
  Strata::UniqueHkey key;
  LSTATUS status = create ? ::RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                                              nullptr)
                          : ::RegOpenKeyExW(parent, path.c_str(), 0, KEY_ALL_ACCESS, key.put());
  if (status != ERROR_SUCCESS) key.reset();
  return key;
}

std::wstring EntryName(DWORD number) { return Strata::Format(L"%08u", number); }

Strata::UniqueHkey CreateNextEntry(HKEY parent, const wchar_t* list, DWORD* number) {
  Strata::UniqueHkey listKey = OpenKey(parent, list, true);
  if (!listKey) return {};
  // Creating a key that did not exist is atomic, so a number another writer took is skipped.
  for (DWORD candidate = static_cast<DWORD>(EntryNames(listKey.get()).size()) + 1;; ++candidate) {
    Strata::UniqueHkey entry;
    DWORD disposition = 0;
    if (::RegCreateKeyExW(listKey.get(), EntryName(candidate).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          entry.put(), &disposition) != ERROR_SUCCESS) {
      return {};
    }
    if (disposition == REG_CREATED_NEW_KEY) {
      if (number) *number = candidate;
      return entry;
    }
  }
}

std::vector<std::wstring> EntryNames(HKEY key) {
  std::vector<std::wstring> names;
  wchar_t name[256];
  for (DWORD i = 0;; ++i) {
    DWORD length = 256;
    if (::RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    names.emplace_back(name, length);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void WriteText(HKEY key, const wchar_t* name, const wchar_t* text) {
  if (!text) return;
  ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
}

void WriteDword(HKEY key, const wchar_t* name, DWORD value) {
  ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

void WriteTexts(HKEY key, const wchar_t* name, const std::vector<std::wstring>& texts) {
  std::wstring joined;
  for (const std::wstring& text : texts) joined.append(text).push_back(L'\0');
  joined.push_back(L'\0');
  ::RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(joined.data()),
                   static_cast<DWORD>(joined.size() * sizeof(wchar_t)));
}

namespace {

std::optional<std::wstring> ReadRaw(HKEY key, const wchar_t* name, DWORD flags) {
  DWORD size = 0;
  if (::RegGetValueW(key, nullptr, name, flags, nullptr, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (::RegGetValueW(key, nullptr, name, flags, nullptr, text.data(), &size) != ERROR_SUCCESS) return std::nullopt;
  text.resize(size / sizeof(wchar_t));
  return text;
}

}  // namespace

std::optional<std::wstring> ReadText(HKEY key, const wchar_t* name) {
  std::optional<std::wstring> text = ReadRaw(key, name, RRF_RT_REG_SZ);
  if (text) text->resize(wcslen(text->c_str()));
  return text;
}

std::optional<DWORD> ReadDword(HKEY key, const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof(value);
  if (::RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) return std::nullopt;
  return value;
}

std::vector<std::wstring> ReadTexts(HKEY key, const wchar_t* name) {
  std::vector<std::wstring> texts;
  std::optional<std::wstring> joined = ReadRaw(key, name, RRF_RT_REG_MULTI_SZ);
  if (!joined) return texts;
  for (size_t start = 0; start < joined->size() && (*joined)[start] != L'\0';) {
    size_t end = joined->find(L'\0', start);
    if (end == std::wstring::npos) end = joined->size();
    texts.push_back(joined->substr(start, end - start));
    start = end + 1;
  }
  return texts;
}

}  // namespace ZelStandIns
