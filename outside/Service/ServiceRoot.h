// The service's root object: its configuration objects by id, and sign-in per session.
#pragma once

#include <windows.h>

#include "ComObject.h"
#include "KyGSService.h"
#include "ServiceStore.h"

namespace ZelService {

class CServiceRoot : public ComObject<IKyGSService> {
 public:
  STDMETHODIMP GetValue(long id, VARIANT* value, long* result) override;
  STDMETHODIMP SignIn(unsigned long session, BSTR userName, BSTR password, long* result) override;
  STDMETHODIMP SignOut(unsigned long session, long* result) override;

 private:
  const ServiceStore store_;
};

}  // namespace ZelService
