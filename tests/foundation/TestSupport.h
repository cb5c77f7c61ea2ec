// Helpers shared by the foundation tests: throw-away folders and registry keys, sibling binaries.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ZelTest {

// A new, empty folder under the temporary folder, removed with everything in it at destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& Path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// A new key under HKEY_CURRENT_USER\Software\ZelTests, deleted with its subtree at destruction.
class TempRegistryKey {
 public:
  TempRegistryKey();
  ~TempRegistryKey();
  TempRegistryKey(const TempRegistryKey&) = delete;
  TempRegistryKey& operator=(const TempRegistryKey&) = delete;
  HKEY Root() const { return HKEY_CURRENT_USER; }
  const std::wstring& Path() const { return path_; }

 private:
  std::wstring path_;
};

// Full path of a binary built beside the test executable.
std::wstring SiblingPath(const std::wstring& fileName);

// Registers a library built beside the test executable through its DllRegisterServer, as an
// installer would: its answer, or the failure to load it or to find the export.
HRESULT RegisterSiblingLibrary(const std::wstring& fileName);

// Runs a program with a command line, waits up to `timeoutMs`, returns its exit code (or ~0u).
// Standard output is captured into `output` when it is given.
DWORD RunProcess(const std::wstring& commandLine, std::string* output = nullptr, DWORD timeoutMs = 60000);

// How many subkeys the key `path` of `root` has; 0 when it cannot be opened.
size_t SubkeyCount(HKEY root, const std::wstring& path);

std::vector<unsigned char> ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
void DeleteTree(const std::wstring& path);
std::wstring NewGuidText();

}  // namespace ZelTest
