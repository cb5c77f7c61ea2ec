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

// The name of a corpus string whose beginning `stored` holds without the whole of it.
std::optional<std::string> CutCorpusText(const std::wstring& stored);

// The names of the recognisable corpus strings that no text of `stored` holds whole.
std::vector<std::string> CorpusTextsMissing(const std::vector<std::wstring>& stored);

}  // namespace BadInput
