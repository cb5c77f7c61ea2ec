// Receives the service's sign-out events; they are noted in the diagnostic log and not reported.
#pragma once

#include "EventHandlerObject.h"
#include "KyGSEvents.h"

class CGSSignOutEventHandler : public CEventHandlerObject<IKyGSSignOutEvent> {
 public:
  STDMETHODIMP OnSignOutEvent() override;
};
