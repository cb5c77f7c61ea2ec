// The service's root object: its configuration objects by id, and sign-in per session.
#pragma once

#include <windows.h>

#include "LiveObjects.h"
#include "ServiceKnobs.h"
#include "KyGSService.h"
#include "ServiceStore.h"

namespace ZelService {

class CServiceRoot : public ComObject<IKyGSService> {
 public:
  // A dead service's root object answers even QueryInterface with kServerGone.
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
  STDMETHODIMP GetValue(long id, VARIANT* value, long* result) override;
  STDMETHODIMP SignIn(unsigned long session, BSTR userName, BSTR password, long* result) override;
  STDMETHODIMP SignOut(unsigned long session, long* result) override;

 private:
  const ServiceStore store_;
  const ServiceLife life_;
};

}  // namespace ZelService
