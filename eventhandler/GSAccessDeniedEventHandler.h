// Receives the service's access-denied events; only time limits and blocked-list hits are reported.
#pragma once

#include "EventHandlerObject.h"
#include "KyGSEvents.h"

class CGSAccessDeniedEventHandler : public CEventHandlerObject<IKyGSAccessDeniedEvent> {
 public:
  STDMETHODIMP OnAccessDeniedEvent(KYGS_ACCESS_DENIED_DETAILS* pDetails) override;
};
