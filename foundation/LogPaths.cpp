#include "LogPaths.h"

#include <shlobj.h>

#include "FormatText.h"
#include "Handles.h"

namespace ETWLogging {

DWORD GetProgramDataFolder(Strata::ShlObjAPI& shell, std::wstring* folder) {
  PWSTR raw = nullptr;
  HRESULT hr = shell.SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_CREATE, nullptr, &raw);
  Strata::UniqueCoTaskMem owner(raw);
  if (FAILED(hr) || !raw || !folder) return ERROR_INVALID_PARAMETER;
  *folder = raw;
  return ERROR_SUCCESS;
}

std::wstring LogBaseFolder(const std::wstring& programData) { return programData + L"\\Varant\\KYLOGS"; }

std::wstring LogFolder(const std::wstring& programData, const std::wstring& group, const std::wstring& moduleBaseName) {
  std::wstring base = LogBaseFolder(programData);
  if (group.empty()) return Strata::Format(L"%s%s", base.c_str(), (L"\\" + moduleBaseName).c_str());
  return Strata::Format(L"%s%s\\%s", base.c_str(), (L"\\" + group).c_str(), moduleBaseName.c_str());
}

std::wstring SharedIniPath(const std::wstring& programData) { return LogBaseFolder(programData) + L"\\log.ini"; }

std::wstring ModuleIniPath(const std::wstring& logFolder) {
  return Strata::Format(L"%s\\%s", logFolder.c_str(), L"log.ini");
}

std::wstring LogFilePath(const std::wstring& logFolder, const std::wstring& moduleBaseName,
                         const std::wstring* hostSuffix, unsigned index) {
  std::wstring name = moduleBaseName;
  if (hostSuffix) name += L"_" + *hostSuffix;
  return logFolder + L"\\" + name + Strata::Format(L"%0.3u%s", index, L".log");
}

}  // namespace ETWLogging
