#include "TestSupport.h"

#include <objbase.h>
#include <shellapi.h>

#include <vector>

#include "Handles.h"

namespace ZelTest {

std::wstring NewGuidText() {
  GUID guid;
  ::CoCreateGuid(&guid);
  wchar_t text[64];
  ::StringFromGUID2(guid, text, 64);
  return std::wstring(text + 1, text + 37);
}

void DeleteTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      std::wstring child = path + L"\\" + name;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        DeleteTree(child);
      } else {
        ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(child.c_str());
      }
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(path.c_str());
}

TempFolder::TempFolder() {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  path_ = std::wstring(temp) + L"zeltest-" + NewGuidText();
  ::CreateDirectoryW(path_.c_str(), nullptr);
}

TempFolder::~TempFolder() { DeleteTree(path_); }

TempRegistryKey::TempRegistryKey() : path_(L"Software\\ZelTests\\" + NewGuidText()) {
  HKEY key = nullptr;
  ::RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (key) ::RegCloseKey(key);
}

TempRegistryKey::~TempRegistryKey() { ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str()); ::RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str()); }

std::wstring SiblingPath(const std::wstring& fileName) {
  wchar_t self[MAX_PATH];
  DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring path(self, length);
  return path.substr(0, path.find_last_of(L'\\') + 1) + fileName;
}

size_t SubkeyCount(HKEY root, const std::wstring& path) {
  Strata::UniqueHkey key;
  DWORD count = 0;
  if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return 0;
  ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr);
  return count;
}

HRESULT RegisterSiblingLibrary(const std::wstring& fileName) {
  Strata::UniqueModule library(::LoadLibraryW(SiblingPath(fileName).c_str()));
  if (!library) return HRESULT_FROM_WIN32(::GetLastError());
  auto registerServer =
      reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(::GetProcAddress(library.get(), "DllRegisterServer"));
  if (!registerServer) return HRESULT_FROM_WIN32(::GetLastError());
  return registerServer();
}

DWORD RunProcess(const std::wstring& commandLine, std::string* output, DWORD timeoutMs) {
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  Strata::UniqueHandle readEnd, writeEnd;
  if (output && !::CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) return ~0u;
  if (output) ::SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  if (output) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  }
  PROCESS_INFORMATION process{};
  std::wstring mutableLine = commandLine;
  if (!::CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, output != nullptr, 0, nullptr, nullptr,
                        &startup, &process))
    return ~0u;
  Strata::UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
  if (output) {
    writeEnd.reset();
    char chunk[4096];
    DWORD got = 0;
    while (::ReadFile(readEnd.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) output->append(chunk, got);
  }
  if (::WaitForSingleObject(processHandle.get(), timeoutMs) != WAIT_OBJECT_0) {
    ::TerminateProcess(processHandle.get(), 1);
    return ~0u;
  }
  DWORD code = ~0u;
  ::GetExitCodeProcess(processHandle.get(), &code);
  return code;
}

std::vector<unsigned char> ReadFileBytes(const std::wstring& path) {
  std::vector<unsigned char> bytes;
  Strata::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
  if (!file) return bytes;
  LARGE_INTEGER size{};
  ::GetFileSizeEx(file.get(), &size);
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (!bytes.empty()) ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  bytes.resize(got);
  return bytes;
}

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace ZelTest
