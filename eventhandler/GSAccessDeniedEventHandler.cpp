#include "GSAccessDeniedEventHandler.h"

#include "ComGuard.h"
#include "LogInstance.h"

namespace {

const wchar_t* ReasonName(KyGS_AccessDeniedType reason) {
  switch (reason) {
    case KyGS_AccessDenied_Unknown: return L"KyGS_AccessDenied_Unknown";
    case KyGS_AccessDenied_TimeLimit: return L"KyGS_AccessDenied_TimeLimit";
    case KyGS_AccessDenied_NotOnAllowedUrlList: return L"KyGS_AccessDenied_NotOnAllowedUrlList";
    case KyGS_AccessDenied_OnBlockedUrlList: return L"KyGS_AccessDenied_OnBlockedUrlList";
    case KyGS_AccessDenied_UrlCategories: return L"KyGS_AccessDenied_UrlCategories";
  }
  return L"(other)";
}

}  // namespace

STDMETHODIMP CGSAccessDeniedEventHandler::OnAccessDeniedEvent(KYGS_ACCESS_DENIED_DETAILS* pDetails) {
  if (!pDetails) return E_POINTER;
  return GuardHResult([&] {
    ZEL_LOG(ETWLogging::kLevelNormal, L"GSAccessDeniedEventHandler", L"CGSAccessDeniedEventHandler::OnAccessDeniedEvent",
            L"ZEL Event: OnAccessDeniedEvent - Process[%d], Reason[%s]\r\n", pDetails->dwProcessID,
            ReasonName(pDetails->eReason));
    long eventType;
    switch (pDetails->eReason) {
      case KyGS_AccessDenied_TimeLimit: eventType = LogEvent_TimeLimit; break;
      case KyGS_AccessDenied_OnBlockedUrlList: eventType = LogEvent_UrlBlocked; break;
      default: return S_OK;
    }
    g_module.QueueEvent(eventType, pDetails->wszUrl, L"",
                        CZELEventHandlerModule::getSessionIdFromPID(pDetails->dwProcessID));
    return S_OK;
  });
}
