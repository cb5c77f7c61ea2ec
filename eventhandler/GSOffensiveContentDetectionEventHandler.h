// Receives the service's blocked-keyword events. Chats and e-mails have no page of their own: the
// report names them with a label from the product resource library.
#pragma once

#include "KyGSEvents.h"
#include "ZELEventHandlerModule.h"

class CGSKeywordBlockedEventHandler : public CEventHandlerObject<IKyGSKeywordBlockedEvent> {
 public:
  STDMETHODIMP OnKeywordBlockedEvent(KYGS_KEYWORD_DETAILS* pKeywordBlockedInformation) override;
};
