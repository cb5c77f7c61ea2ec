#include "ProcessImagePath.h"

#include <psapi.h>

#include "Handles.h"

std::optional<std::wstring> ProcessImagePath(DWORD processId) {
  Strata::UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
  if (!process) return std::nullopt;
  wchar_t path[MAX_PATH + 1];
  DWORD length = ARRAYSIZE(path);
  if (::QueryFullProcessImageNameW(process.get(), 0, path, &length)) return std::wstring(path, length);
  length = ::GetModuleFileNameExW(process.get(), nullptr, path, ARRAYSIZE(path));
  if (length == 0) return std::nullopt;
  return std::wstring(path, std::min<DWORD>(length, MAX_PATH));
}
