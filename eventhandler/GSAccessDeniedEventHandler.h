// Receives the service's access-denied events; only time limits and blocked-list hits are reported.
#pragma once

#include "KyGSEvents.h"
#include "ZELEventHandlerModule.h"

class CGSAccessDeniedEventHandler : public CEventHandlerObject<IKyGSAccessDeniedEvent> {
 public:
  STDMETHODIMP OnAccessDeniedEvent(KYGS_ACCESS_DENIED_DETAILS* pDetails) override;
};
