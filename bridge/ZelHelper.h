// The configuration object's connection to the parental-control service: one service root object
// per helper, created on first need, re-created once when the service process has gone away, and
// never asked for while the service's web-proxy plug-in is not registered.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <mutex>

#include <wrl/client.h>

#include "KyGSService.h"
#include "CriticalSection.h"

class CZelHelper {
 public:
  CZelHelper() = default;
  CZelHelper(const CZelHelper&) = delete;
  CZelHelper& operator=(const CZelHelper&) = delete;

  // The service root object, with a reference of the caller's own. RPC_E_NOT_REGISTERED while the
  // plug-in is not registered; a failed creation is final for this helper and answered every time.
  HRESULT GetConfig(IKyGSService** service);
  // For a caller whose call on `failed` met an RPC failure (a proxy answers QueryInterface itself,
  // so only a real call shows that the service has gone): drops the root object and creates it
  // afresh, unless another caller has already replaced it, whose fresh object is then handed out.
  HRESULT Reconnect(IKyGSService* failed, IKyGSService** service);

 private:
  // Creates the service root object (once more at once when the first answer is E_FAIL, counting
  // on COM to start the service again) and keeps the result. Called under lock_.
  HRESULT createConfigLocked();

  // Guards creationResult_ and service_; held for the whole of GetConfig and Reconnect, across the
  // creation of the service's object, which may call back into this library on the same thread.
  Strata::CriticalSection lock_;
  HRESULT creationResult_ = S_OK;
  Microsoft::WRL::ComPtr<IKyGSService> service_;
};
