// Receives the service's blocked-image events; every one is reported.
#pragma once

#include "EventHandlerObject.h"
#include "KyGSEvents.h"

class CGSImageBlockedEventHandler : public CEventHandlerObject<IKyGSImageBlockedEvent> {
 public:
  STDMETHODIMP OnImageBlockedEvent(KYGS_BLOCKED_IMAGE_DETAILS* pDetails) override;
};
