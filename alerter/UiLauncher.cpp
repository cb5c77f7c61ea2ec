#include "UiLauncher.h"

#include <vector>

#include "Handles.h"
#include "LogInstance.h"
#include "ServerCommandLine.h"

namespace {

constexpr wchar_t kUiClass[] = L"{E0EC0F2B-773D-4dd7-BE6C-7D85D6AA6269}";
constexpr wchar_t kSource[] = L"Alert";
constexpr wchar_t kFunction[] = L"CAlert::OnAlertNotification";

}  // namespace

std::optional<std::wstring> CUiLauncher::ReadServerValue(const wchar_t* serverKind, REGSAM view) const {
  const std::wstring path = classesKey_ + L"\\CLSID\\" + kUiClass + L"\\" + serverKind;
  Strata::UniqueHkey key;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS)
    return std::nullopt;
  DWORD type = 0;
  DWORD bytes = 0;
  if (::RegQueryValueExW(key.get(), nullptr, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ) || bytes < sizeof(wchar_t))
    return std::nullopt;
  std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
  if (::RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes) !=
      ERROR_SUCCESS)
    return std::nullopt;
  std::wstring value = Ky::ServerPathOfCommandLine(buffer.data());
  if (value.empty()) return std::nullopt;
  return value;
}

std::optional<std::wstring> CUiLauncher::RegisteredPath() const {
  for (const wchar_t* kind : {L"InprocServer32", L"LocalServer32"}) {
    for (REGSAM view : {REGSAM(0), REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)}) {
      std::optional<std::wstring> path = ReadServerValue(kind, view);
      if (!path) continue;
      // A longer path is never cut: the cut text could name another program.
      if (path->size() > kMaxPathChars) {
        ZEL_LOG(ETWLogging::kLevelError, kSource, kFunction,
                L"The registered user interface path is longer than %u characters\r\n",
                static_cast<unsigned>(kMaxPathChars));
        return std::nullopt;
      }
      return path;
    }
  }
  return std::nullopt;
}

bool CUiLauncher::Launch(const std::wstring& action) const {
  std::optional<std::wstring> path = RegisteredPath();
  if (!path) return false;
  std::wstring commandLine = L"\"" + *path + L"\" " + action;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(path->c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
    ZEL_LOG(ETWLogging::kLevelError, kSource, kFunction, L"Failed to start the user interface (error %u)\r\n",
            ::GetLastError());
    return false;
  }
  Strata::UniqueHandle process(started.hProcess);
  Strata::UniqueHandle thread(started.hThread);
  return true;
}
