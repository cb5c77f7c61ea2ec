#include "ProductFolder.h"

#include <windows.h>

#include <vector>

#include "Handles.h"

namespace ProductFolder {

namespace {

constexpr size_t kMaxDirectoryChars = MAX_PATH;

std::optional<std::wstring> UsableDirectory() {
  std::optional<std::wstring> directory = ReadInstallDir();
  if (directory && directory->size() > kMaxDirectoryChars) return std::nullopt;
  return directory;
}

}  // namespace

std::optional<std::wstring> ReadInstallDir() {
  Strata::UniqueHkey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Varant\\ZEL", 0, KEY_READ, key.put()) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD type = 0;
  DWORD bytes = 0;
  if (::RegQueryValueExW(key.get(), L"Install Dir", nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
    return std::nullopt;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
  std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (::RegQueryValueExW(key.get(), L"Install Dir", nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes) !=
      ERROR_SUCCESS)
    return std::nullopt;
  size_t chars = bytes / sizeof(wchar_t);
  if (chars == 0 || text[chars - 1] != L'\0') return std::nullopt;
  return std::wstring(text.data());
}

std::optional<std::wstring> BridgeLibraryPath() {
  std::optional<std::wstring> directory = ReadInstallDir();
  if (!directory) return std::nullopt;
  return *directory + L"\\ZelTARN.DLL";
}

std::optional<std::wstring> ResourceLibraryPath() {
  std::optional<std::wstring> directory = UsableDirectory();
  if (!directory) return std::nullopt;
  wchar_t shortForm[MAX_PATH + 1];
  DWORD chars = ::GetShortPathNameW(directory->c_str(), shortForm, MAX_PATH + 1);
  std::wstring folder = (chars > 0 && chars <= MAX_PATH) ? std::wstring(shortForm, chars) : *directory;
  return folder + L"\\ZelRes2.DLL";
}

std::optional<std::wstring> ServiceLibraryPath() {
  std::optional<std::wstring> directory = UsableDirectory();
  if (!directory || directory->empty()) return std::nullopt;
  return *directory + L"\\zel.dll";
}

}  // namespace ProductFolder
