// Receives the service's blocked-image events; every one is reported.
#pragma once

#include "KyGSEvents.h"
#include "ZELEventHandlerModule.h"

class CGSImageBlockedEventHandler : public CEventHandlerObject<IKyGSImageBlockedEvent> {
 public:
  STDMETHODIMP OnImageBlockedEvent(KYGS_BLOCKED_IMAGE_DETAILS* pDetails) override;
};
