#include "LogLock.h"

#include <sddl.h>

#include "FormatText.h"

namespace ETWLogging {
namespace {

constexpr wchar_t kMutexSuffix[] = L"CAD0E02E86CD4436B6318C111B9092AC";

// System and administrators: everything. Everyone else: wait for it and release it
// (SYNCHRONIZE | MUTEX_MODIFY_STATE), but not change its access list.
constexpr wchar_t kMutexAccess[] = L"D:(A;;GA;;;SY)(A;;GA;;;BA)(A;;0x00100001;;;WD)";

Strata::UniqueHandle CreateMachineWideMutex(const std::wstring& name) {
  Strata::UniqueLocalMem descriptor = DescriptorFromSddl(kMutexAccess);
  if (!descriptor) return Strata::UniqueHandle();
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor.get(), FALSE};
  Strata::UniqueHandle mutex(::CreateMutexW(&attributes, FALSE, (L"Global\\" + name).c_str()));
  // Created by another user with our access list: open it with the rights it grants everyone.
  if (!mutex && ::GetLastError() == ERROR_ACCESS_DENIED)
    mutex.reset(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, (L"Global\\" + name).c_str()));
  return mutex;
}

}  // namespace

Strata::UniqueLocalMem DescriptorFromSddl(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr))
    return Strata::UniqueLocalMem();
  return Strata::UniqueLocalMem(descriptor);
}

std::wstring LogMutexName(const std::wstring& moduleBaseName) {
  return Strata::Format(L"%s_%s", moduleBaseName.c_str(), kMutexSuffix);
}

Strata::UniqueHandle OpenLogMutex(const std::wstring& moduleBaseName) {
  std::wstring name = LogMutexName(moduleBaseName);
  Strata::UniqueHandle mutex = CreateMachineWideMutex(name);
  if (!mutex) mutex.reset(::CreateMutexW(nullptr, FALSE, (L"Local\\" + name).c_str()));
  return mutex;
}

}  // namespace ETWLogging
