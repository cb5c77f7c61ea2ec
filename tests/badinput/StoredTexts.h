// What the system stored, as texts: every string value under a registry key, and the check that
// none holds a corpus string cut short.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace BadInput {

// Every REG_SZ value below HKEY_LOCAL_MACHINE\`path`, at any depth, whatever its length.
std::vector<std::wstring> StoredTexts(const std::wstring& path);

// Fails the test for each text that holds the beginning of a corpus string without the whole of it.
void ExpectNoCutCorpusText(const std::vector<std::wstring>& texts, const char* where);

// The names of the recognisable corpus strings that no text of `stored` holds whole.
std::vector<std::string> CorpusTextsMissing(const std::vector<std::wstring>& stored);

}  // namespace BadInput
