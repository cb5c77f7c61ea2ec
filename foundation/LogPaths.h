// Where the file logger keeps its files and settings, shared with the support tool.
#pragma once

#include <windows.h>

#include <string>

#include "ShlObjAPI.h"

namespace ETWLogging {

// The machine's program-data folder, created when missing: 0, or 87 when it cannot be had.
DWORD GetProgramDataFolder(Strata::ShlObjAPI& shell, std::wstring* folder);

// "<program data>\Varant\KYLOGS": holds the shared log.ini and one folder per group.
std::wstring LogBaseFolder(const std::wstring& programData);
// The folder of one module's files; the group is left out when empty.
std::wstring LogFolder(const std::wstring& programData, const std::wstring& group, const std::wstring& moduleBaseName);
std::wstring SharedIniPath(const std::wstring& programData);
std::wstring ModuleIniPath(const std::wstring& logFolder);
// "<folder>\<module>[_<host>]NNN.log"
std::wstring LogFilePath(const std::wstring& logFolder, const std::wstring& moduleBaseName,
                         const std::wstring* hostSuffix, unsigned index);

// Creates `folder` (inside `base`, the folder LogBaseFolder names) and what is missing above it.
// A new `base` gets the log folder's own access list, which its subfolders and files inherit.
bool CreateLogFolder(const std::wstring& base, const std::wstring& folder);

// That access list, in SDDL form.
extern const wchar_t kLogFolderAccess[];


}  // namespace ETWLogging
