// Receives the service's sign-out events; they are noted in the diagnostic log and not reported.
#pragma once

#include "KyGSEvents.h"
#include "ZELEventHandlerModule.h"

class CGSSignOutEventHandler : public CEventHandlerObject<IKyGSSignOutEvent> {
 public:
  STDMETHODIMP OnSignOutEvent() override;
};
