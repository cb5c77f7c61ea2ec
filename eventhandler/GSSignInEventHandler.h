// Receives the service's sign-in events; they are noted in the diagnostic log and not reported.
#pragma once

#include "KyGSEvents.h"
#include "ZELEventHandlerModule.h"

class CGSSignInEventHandler : public CEventHandlerObject<IKyGSSignInEvent> {
 public:
  STDMETHODIMP OnSignInEvent() override;
};
