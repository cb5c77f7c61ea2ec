#include "AlertClassFactory.h"

#include "Alert.h"
#include "AtomicCount.h"
#include "ComGuard.h"

STDMETHODIMP CAlertClassFactory::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
  *object = static_cast<IClassFactory*>(this);
  return S_OK;
}

STDMETHODIMP CAlertClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (!lifetime_.TryHold()) return CO_E_SERVER_STOPPING;
  const HRESULT hr = GuardHResult([&] { return CAlert::Create(services_, iid, object); });
  lifetime_.Release();
  return hr;
}

STDMETHODIMP CAlertClassFactory::LockServer(BOOL lock) {
  if (!lock) {
    if (!Strata::TakeOneIfAny(serverLocks_)) return E_UNEXPECTED;
    lifetime_.Release();
    return S_OK;
  }
  if (!lifetime_.TryHold()) return CO_E_SERVER_STOPPING;
  ++serverLocks_;
  return S_OK;
}
