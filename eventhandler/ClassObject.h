// The class object of one entry of the object map. It answers IClassFactory or the suite's two
// class-factory interfaces, as its kind says, and each server lock holds one module lock.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

#include <wrl/client.h>

#include "KyClassFactory.h"
#include "ObjectMap.h"
#include "PublisherCheck.h"

class CClassObject : public IClassFactory, public IKyClassFactory, public IKyClassFactory_PreComponentization {
 public:
  // The entry must outlive the object. `unsignedPolicy` is what the suite kind's publisher check
  // makes of an unsigned caller.
  explicit CClassObject(const ObjectMapEntry& entry,
                        Ky::UnsignedModules unsignedPolicy = Ky::BuildUnsignedModulePolicy());
  virtual ~CClassObject() = default;
  CClassObject(const CClassObject&) = delete;
  CClassObject& operator=(const CClassObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IClassFactory.
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  STDMETHODIMP LockServer(BOOL lock) override;

  // IKyClassFactory and IKyClassFactory_PreComponentization.
  STDMETHODIMP CreateInstance(REFIID iid, IUnknown** object) override;

 private:
  const ObjectMapEntry& entry_;
  const Ky::UnsignedModules unsignedPolicy_;
  std::atomic<ULONG> references_{1};
};

// Takes over the creation reference of a new class object. (MinGW's ComPtr::Attach adds a
// reference of its own, unlike the Windows SDK's, so it cannot be used for this.)
inline Microsoft::WRL::ComPtr<CClassObject> AdoptClassObject(CClassObject* created) {
  Microsoft::WRL::ComPtr<CClassObject> owner;
  *owner.GetAddressOf() = created;
  return owner;
}
