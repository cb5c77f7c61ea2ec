#include "GSSignOutEventHandler.h"

#include "ComGuard.h"
#include "LogInstance.h"

STDMETHODIMP CGSSignOutEventHandler::OnSignOutEvent() {
  return GuardHResult([&] {
    ZEL_LOG(ETWLogging::kLevelNormal, L"GSSignOutEventHandler", L"CGSSignOutEventHandler::OnSignOutEvent",
            L"ZEL Event: OnSignOutEvent\r\n");
    return S_OK;
  });
}
