// What a stand-in records and reads under its own key, HKEY_LOCAL_MACHINE\Software\ZelStandIns\<name>:
// typed value helpers and numbered entry lists ("00000001", "00000002", ...) that several processes
// may append to at once.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "Handles.h"

namespace ZelStandIns {

// The key a stand-in keeps its state under: the per-process subkey of this process when a test
// has created it, else the stand-in's own key.
std::wstring StateKeyPath(const std::wstring& standIn);

// Opens (creating when asked) a key below HKEY_LOCAL_MACHINE or below `parent`.
Strata::UniqueHkey OpenKey(HKEY parent, const std::wstring& path, bool create);

// Creates the next numbered entry below `parent`\`list`; another process appending at the same
// time gets another number. *number receives the entry's number.
Strata::UniqueHkey CreateNextEntry(HKEY parent, const wchar_t* list, DWORD* number = nullptr);
// The names of the entries below a key, in order.
std::vector<std::wstring> EntryNames(HKEY key);
std::wstring EntryName(DWORD number);

// A null text writes nothing, so that it reads back as absent.
void WriteText(HKEY key, const wchar_t* name, const wchar_t* text);
void WriteDword(HKEY key, const wchar_t* name, DWORD value);
void WriteTexts(HKEY key, const wchar_t* name, const std::vector<std::wstring>& texts);
std::optional<std::wstring> ReadText(HKEY key, const wchar_t* name);
std::optional<DWORD> ReadDword(HKEY key, const wchar_t* name);
std::vector<std::wstring> ReadTexts(HKEY key, const wchar_t* name);

}  // namespace ZelStandIns
