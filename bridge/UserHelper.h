// The COM class "UserHelper": the platform's user-settings interface for the event-handler
// library, whose one method this library does not implement.
#pragma once

#include "KyUserManager.h"
#include "ZelTARNModule.h"

class CUserHelper : public CZelComObject<IKyUserSettings> {
 public:
  static HRESULT Create(REFIID iid, void** object);

  STDMETHODIMP GetSettings(ULONG_PTR, ULONG_PTR, ULONG_PTR) override { return E_NOTIMPL; }
};
