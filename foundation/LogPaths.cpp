#include "LogPaths.h"

#include <shlobj.h>

#include "FormatText.h"
#include "Handles.h"
#include "LogLock.h"

namespace ETWLogging {

// The alerter runs as each signed-on user under one executable name, so a user's process appends
// to, and when it rotates the ring truncates, files another account created: users may create,
// read and write files and folders here, but not delete, rename or re-permission them. A file's
// owner may delete it (a log.ini rewrite renames its own temporary file) but not re-permission it.
// The machine's accounts keep full control. Nothing is inherited from the program-data folder.
const wchar_t kLogFolderAccess[] =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)"
    L"(A;CI;0x1201bf;;;BU)(A;OIIO;0x12019f;;;BU)"
    L"(A;OICI;0x13019f;;;S-1-3-4)";

namespace {

bool CreateFolderTree(const std::wstring& folder) {
  int result = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
  return result == ERROR_SUCCESS || result == ERROR_ALREADY_EXISTS || result == ERROR_FILE_EXISTS;
}

bool CreateProtectedFolder(const std::wstring& folder) {
  Strata::UniqueLocalMem descriptor = DescriptorFromSddl(kLogFolderAccess);
  if (!descriptor) return false;
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
  return ::CreateDirectoryW(folder.c_str(), &attributes) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

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

bool CreateLogFolder(const std::wstring& base, const std::wstring& folder) {
  size_t parentEnd = base.find_last_of(L'\\');
  if (parentEnd == std::wstring::npos || !CreateFolderTree(base.substr(0, parentEnd))) return false;
  return CreateProtectedFolder(base) && CreateFolderTree(folder);
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
