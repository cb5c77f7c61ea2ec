#include "ClassObject.h"

#include "ZELEventHandlerModule.h"

CClassObject::CClassObject(const ObjectMapEntry& entry, Ky::UnsignedModules unsignedPolicy)
    : entry_(entry), unsignedPolicy_(unsignedPolicy) {}

STDMETHODIMP CClassObject::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  const bool standard = entry_.kind == ClassObjectKind::Standard;
  if (iid == IID_IUnknown || (standard && iid == IID_IClassFactory))
    *object = static_cast<IClassFactory*>(this);
  else if (!standard && iid == IID_IKyClassFactory)
    *object = static_cast<IKyClassFactory*>(this);
  else if (!standard && iid == IID_IKyClassFactory_PreComponentization)
    *object = static_cast<IKyClassFactory_PreComponentization*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CClassObject::AddRef() { return ++references_; }

STDMETHODIMP_(ULONG) CClassObject::Release() {
  ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP CClassObject::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return entry_.create(iid, object);
}

STDMETHODIMP CClassObject::LockServer(BOOL lock) {
  if (lock)
    g_module.Lock();
  else
    g_module.Unlock();
  return S_OK;
}

STDMETHODIMP CClassObject::CreateInstance(REFIID iid, IUnknown** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  // The caller's return address lies in the module asking for the object.
  if (FAILED(Ky::CheckPublisherOfCode(__builtin_return_address(0), unsignedPolicy_))) return E_ACCESSDENIED;
  return entry_.create(iid, reinterpret_cast<void**>(object));
}
