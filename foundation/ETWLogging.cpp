#include "ETWLogging.h"

#include <algorithm>

namespace ETWLogging {

DWORD CETWLogging::Initialize(const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix,
                              LoggingConfigListenerIf* listener) {
  return InitializeEx(nullptr, group, module, hostSuffix, listener);
}

DWORD CETWLogging::InitializeEx(const wchar_t*, const wchar_t* group, const wchar_t*, const wchar_t* hostSuffix,
                                LoggingConfigListenerIf*) {
  if (initialized_) return kLogAlreadyInitialized;
  if ((group && !*group) || (hostSuffix && !*hostSuffix)) return kLogInvalidParameter;
  initialized_ = true;
  return kLogOk;
}

DWORD CETWLogging::Uninitialize() {
  enabled_ = false;
  initialized_ = false;
  return kLogOk;
}

void CETWLogging::SetSeverity(DWORD level) { severity_ = std::clamp<DWORD>(level, kLevelNormal, kLevelInformation6); }

}  // namespace ETWLogging
