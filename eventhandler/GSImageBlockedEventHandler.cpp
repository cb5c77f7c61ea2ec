#include "GSImageBlockedEventHandler.h"

#include "ComGuard.h"
#include "LogInstance.h"

STDMETHODIMP CGSImageBlockedEventHandler::OnImageBlockedEvent(KYGS_BLOCKED_IMAGE_DETAILS* pDetails) {
  if (!pDetails) return E_POINTER;
  return GuardHResult([&] {
    ZEL_LOG(ETWLogging::kLevelNormal, L"GSImageBlockedEventHandler", L"CGSImageBlockedEventHandler::OnImageBlockedEvent",
            L"ZEL Event: OnImageBlockedEvent - Process[%d], Url[%s] Rating[%d]\r\n", pDetails->dwProcessID,
            pDetails->wszUrl, pDetails->iRating);
    g_module.QueueEvent(LogEvent_ImageBlocked, pDetails->wszUrl, L"",
                        CZELEventHandlerModule::getSessionIdFromPID(pDetails->dwProcessID));
    return S_OK;
  });
}
