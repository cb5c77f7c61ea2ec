// The class object of Alert, one per process, registered while the server runs. Every creation
// holds the server for its duration, so a server that has begun to stop serves none, and is
// refused (E_ACCESSDENIED) to a calling process whose program fails the publisher check; each
// call of an object is checked again.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

#include "AlertServices.h"
#include "ServerLifetime.h"

class CAlertClassFactory final : public IClassFactory {
 public:
  CAlertClassFactory(AlertServices& services, CServerLifetime& lifetime) noexcept
      : services_(services), lifetime_(lifetime) {}
  CAlertClassFactory(const CAlertClassFactory&) = delete;
  CAlertClassFactory& operator=(const CAlertClassFactory&) = delete;

  // Owned by the module, which outlives its registration: references do not count.
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  AlertServices& services_;
  CServerLifetime& lifetime_;
  // Holds taken by clients' LockServer calls: an unlock without its lock is refused, as it would
  // release a hold of a live object and could end the server under it.
  std::atomic<LONG> serverLocks_{0};
};
