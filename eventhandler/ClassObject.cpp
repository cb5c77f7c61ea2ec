#include "ClassObject.h"

#include "ComGuard.h"
#include "ZELEventHandlerModule.h"

STDMETHODIMP CClassObject::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
  *object = static_cast<IClassFactory*>(this);
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CClassObject::AddRef() { return references_.AddRef(); }

STDMETHODIMP_(ULONG) CClassObject::Release() {
  ULONG left = references_.Release();
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP CClassObject::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return GuardHResult([&] { return create_(iid, object); });
}

STDMETHODIMP CClassObject::LockServer(BOOL lock) { return g_module.LockServer(lock != FALSE); }
