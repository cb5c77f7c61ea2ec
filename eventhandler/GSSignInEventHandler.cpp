#include "GSSignInEventHandler.h"

#include "ComGuard.h"
#include "LogInstance.h"

STDMETHODIMP CGSSignInEventHandler::OnSignInEvent() {
  return GuardHResult([&] {
    ZEL_LOG(ETWLogging::kLevelNormal, L"GSSignInEventHandler", L"CGSSignInEventHandler::OnSignInEvent",
            L"ZEL Event: OnSignInEvent\r\n");
    return S_OK;
  });
}
