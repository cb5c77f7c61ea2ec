#include "ModuleVersion.h"

#include <cwchar>

#include "FileVersionInfo.h"
#include "FormatText.h"

#include "OnceFlag.h"

namespace Strata {

namespace {

// The foundation is a static library: asking by the address of its own code names the DLL it is
// linked into, where the process's main module would name the host program.
HMODULE ModuleOfThisCode() {
  HMODULE module = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&GetModuleVersion), &module);
  return module;
}

std::wstring FileVersionOf(const std::wstring& path) {
  FileVersionInfo info;
  if (!info.Load(path.c_str())) return std::wstring();
  std::vector<FileVersionInfo::Translation> translations = info.Translations();
  if (translations.empty()) return std::wstring();
  return DottedVersion(info.GetString(translations.front(), L"FileVersion"));
}

}  // namespace

std::wstring DottedVersion(const std::wstring& fileVersion) {
  unsigned parts[4];
  if (::swscanf(fileVersion.c_str(), L"%u,%u,%u,%u", &parts[0], &parts[1], &parts[2], &parts[3]) == 4)
    return Format(L"%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
  return fileVersion;
}

ModuleVersion ReadModuleVersion(HMODULE module) {
  ModuleVersion record;
  if (!module) return record;
  wchar_t path[MAX_PATH];
  DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return record;
  record.path.assign(path, length);
  record.fileName = record.path.substr(record.path.find_last_of(L'\\') + 1);
  record.version = FileVersionOf(record.path);
  return record;
}

namespace {
ModuleVersion g_moduleVersion;  // read once, by GetModuleVersion
Strata::OnceFlag g_moduleVersionRead;
}  // namespace

const ModuleVersion& GetModuleVersion() {
  g_moduleVersionRead.Run([] { g_moduleVersion = ReadModuleVersion(ModuleOfThisCode()); });
  return g_moduleVersion;
}

}  // namespace Strata
