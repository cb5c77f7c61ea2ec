// Helpers for the diagnostic-log tests: a program-data folder of the test's own, log file reading.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cwchar>
#include <string>
#include <vector>

#include "Logging.h"
#include "ShlObjAPI.h"
#include "TestSupport.h"

namespace ZelTest {

// Answers every known-folder query with one folder, or with a failure.
class FakeShell : public Strata::ShlObjAPI {
 public:
  explicit FakeShell(std::wstring folder, HRESULT answer = S_OK) : folder_(std::move(folder)), answer_(answer) {}
  HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID, DWORD, HANDLE, PWSTR* path) override {
    *path = nullptr;
    if (FAILED(answer_)) return answer_;
    size_t bytes = (folder_.size() + 1) * sizeof(wchar_t);
    *path = static_cast<PWSTR>(::CoTaskMemAlloc(bytes));
    memcpy(*path, folder_.c_str(), bytes);
    return S_OK;
  }

 private:
  std::wstring folder_;
  HRESULT answer_;
};

// The text of a UTF-16 log file after its byte-order mark; `hadMark` tells whether it had one.
inline std::wstring ReadLogText(const std::wstring& path, bool* hadMark = nullptr) {
  std::vector<unsigned char> bytes = ReadFileBytes(path);
  bool mark = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
  if (hadMark) *hadMark = mark;
  size_t start = mark ? 2 : 0;
  return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + start), (bytes.size() - start) / 2);
}

inline std::vector<std::wstring> SplitLines(const std::wstring& text) {
  std::vector<std::wstring> lines;
  size_t begin = 0;
  for (size_t end; (end = text.find(L"\r\n", begin)) != std::wstring::npos; begin = end + 2)
    lines.push_back(text.substr(begin, end - begin));
  if (begin < text.size()) lines.push_back(text.substr(begin));
  return lines;
}

// The base name of this test executable, which names its log folder and files.
inline std::wstring ExecutableBaseName() {
  wchar_t path[MAX_PATH];
  ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name = wcsrchr(path, L'\\') + 1;
  return name.substr(0, name.find_last_of(L'.'));
}

}  // namespace ZelTest
