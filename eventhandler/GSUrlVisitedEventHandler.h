// Receives the service's visited-URL events. It leaves out the product's own web-service client
// talking to the product's hosts, and a process staying on one domain: each process's last reported
// domain is remembered for as long as this object lives.
#pragma once

#include <mutex>
#include <unordered_map>

#include "Handles.h"
#include "KyGSEvents.h"
#include "SlimLock.h"
#include "ZELEventHandlerModule.h"

class CGSUrlVisitedEventHandler : public CEventHandlerObject<IKyGSUrlVisitedEvent> {
 public:
  STDMETHODIMP OnUrlVisitedEvent(KYGS_URL_VISITED_DETAILS* pDetails) override;

 private:
  // True when this domain is the process's last reported one; otherwise it becomes that.
  bool RepeatsLastDomain(DWORD processId, const wchar_t* domain);

  // Held for the whole of each call, so that one object's calls are reported in the order they
  // are made. Guards lastDomains_.
  Strata::SlimLock lock_;
  std::unordered_map<DWORD, Strata::UniqueBstr> lastDomains_;
};
