#include "ETWConfigurationListener.h"

#include <new>

namespace ETWLogging {

void CETWConfigurationListener::OnConfigure(bool enable, DWORD level, ULONG) {
  CLoggingIf* logger = logger_.load();
  if (!logger) return;
  logger->SetEnabled(enable);
  logger->SetSeverity(level);
  try {
    HKEY root = nullptr;
    std::wstring providerKey, group, moduleLogName;
    GetProviderKey(&root, &providerKey);
    logger->GetGroupName(&group);
    logger->GetModuleLogName(&moduleLogName);
    // The most specific key is read last, so it wins.
    ReadSwitches(root, providerKey);
    if (!group.empty()) ReadSwitches(root, providerKey + L"\\" + group);
    if (!moduleLogName.empty()) ReadSwitches(root, providerKey + L"\\" + moduleLogName);
  } catch (const std::bad_alloc&) {
    // Without memory the session's own request stands.
  }
}

bool CETWConfigurationListener::AttachLogger(CLoggingIf* logger) {
  CLoggingIf* none = nullptr;
  return logger && logger_.compare_exchange_strong(none, logger);
}

void CETWConfigurationListener::GetProviderKey(HKEY* root, std::wstring* path) const {
  *root = properties_.RootKey();
  *path = properties_.ProviderKey();
}

void CETWConfigurationListener::ReadSwitches(HKEY root, const std::wstring& path) {
  CLoggingIf* logger = logger_.load();
  if (!logger) return;
  if (auto enable = internal::ReadRegistryDword(root, path, L"Enable")) logger->SetEnabled(*enable != 0);
  if (auto severity = internal::ReadRegistryDword(root, path, L"Severity")) logger->SetSeverity(*severity);
}

}  // namespace ETWLogging
