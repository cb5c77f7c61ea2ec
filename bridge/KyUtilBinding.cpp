#include "KyUtilBinding.h"

#include <shlobj.h>

#include <array>
#include <cstdio>
#include <memory>
#include <vector>

#include "ShortPath.h"
#include "VerifiedLibrary.h"

namespace {

constexpr wchar_t kPlatformKey[] = L"SOFTWARE\\Varant\\Platform";
constexpr wchar_t kInstallDirValue[] = L"kyutil64_install_dir";
constexpr wchar_t kCommonFilesValue[] = L"CommonFiles Dir64";

std::wstring ReadPlatformText(const wchar_t* name) {
  DWORD bytes = 0;
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kPlatformKey, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS)
    return std::wstring();
  std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
  bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (::RegGetValueW(HKEY_LOCAL_MACHINE, kPlatformKey, name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes) !=
      ERROR_SUCCESS)
    return std::wstring();
  return std::wstring(text.data());
}

std::wstring HostProgramFolder() {
  wchar_t path[MAX_PATH + 1];
  DWORD chars = ::GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  if (chars == 0 || chars > MAX_PATH) return std::wstring();
  std::wstring folder(path, chars);
  size_t slash = folder.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
}

// The platform's common-files folder, ending in "\", in short-path form.
std::wstring PlatformCommonFiles() {
  std::wstring folder = ReadPlatformText(kCommonFilesValue);
  if (folder.empty()) {
    Strata::UniqueCoTaskMem common;
    if (FAILED(::SHGetKnownFolderPath(FOLDERID_ProgramFilesCommon, 0, nullptr,
                                      reinterpret_cast<PWSTR*>(common.put()))))
      return std::wstring();
    folder = std::wstring(static_cast<const wchar_t*>(common.get())) + L"\\Varant\\Platform";
  }
  if (folder.back() != L'\\') folder += L'\\';
  return Strata::ShortPath(folder);
}

bool RunsAsAdministrator() {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidBytes = sizeof(sid);
  if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidBytes)) return false;
  BOOL member = FALSE;
  return ::CheckTokenMembership(nullptr, sid, &member) && member;
}

struct FindCloser {
  void operator()(HANDLE search) const { ::FindClose(search); }
};
using UniqueFind = std::unique_ptr<void, FindCloser>;

using VersionNumbers = std::array<unsigned, 4>;

std::optional<VersionNumbers> ReadVersionName(const wchar_t* name) {
  VersionNumbers numbers{};
  if (std::swscanf(name, L"%u,%u,%u,%u", &numbers[0], &numbers[1], &numbers[2], &numbers[3]) != 4)
    return std::nullopt;
  return numbers;
}

}  // namespace

bool KyUtilBinding::Load() {
  bool loaded = LoadFromFolder(HostProgramFolder());
  if (!loaded) loaded = LoadFromFolder(ReadPlatformText(kInstallDirValue));
  if (!loaded) loaded = LoadFromPlatformCommonFiles();
  if (loaded) BindExports();
  return loaded;
}

bool KyUtilBinding::LoadFromFolder(const std::wstring& folder) {
  if (folder.empty()) return false;
  std::wstring path = folder;
  if (path.back() != L'\\') path += L'\\';
  path += kLibraryName;
  if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return false;
  // A copy already loaded from that path is checked too and handed out with a reference of our own.
  return SUCCEEDED(Ky::LoadVerifiedLibrary(path.c_str(), library_));
}

bool KyUtilBinding::LoadFromPlatformCommonFiles() {
  const std::wstring commonFiles = PlatformCommonFiles();
  if (commonFiles.empty()) return false;
  std::optional<std::wstring> newest = FindNewestVersionFolder(commonFiles + L"kyutil");
  if (newest && LoadFromFolder(*newest)) {
    if (RunsAsAdministrator()) {
      const std::wstring recorded = Strata::ShortPath(*newest);
      ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, kPlatformKey, kInstallDirValue, REG_SZ, recorded.c_str(),
                        static_cast<DWORD>((recorded.size() + 1) * sizeof(wchar_t)));
    }
    return true;
  }
  return LoadFromFolder(commonFiles);
}

void KyUtilBinding::BindExports() {
  for (int i = 0; i < KyUtilExportCount; ++i) exports_[i] = ::GetProcAddress(library_.get(), kKyUtilExportNames[i]);
}

std::optional<std::wstring> KyUtilBinding::FindNewestVersionFolder(const std::wstring& parent) {
  const std::wstring pattern = parent + L"\\*,*,*,*";
  WIN32_FIND_DATAW entry;
  HANDLE first = ::FindFirstFileW(pattern.c_str(), &entry);
  if (first == INVALID_HANDLE_VALUE) return std::nullopt;
  UniqueFind search(first);
  std::optional<VersionNumbers> newest;
  std::wstring newestName;
  do {
    if (entry.dwFileAttributes != FILE_ATTRIBUTE_DIRECTORY) continue;
    std::optional<VersionNumbers> numbers = ReadVersionName(entry.cFileName);
    if (numbers && (!newest || *numbers > *newest)) {
      newest = numbers;
      newestName = entry.cFileName;
    }
  } while (::FindNextFileW(search.get(), &entry));
  if (!newest) return std::nullopt;
  return parent + L"\\" + newestName;
}
