// The class object of one of the library's classes. It answers only the suite's two factory
// interfaces, never IClassFactory, so that clients come through the platform's creation path,
// and it creates objects only for callers whose module passes the publisher check.
#pragma once

#include <windows.h>

#include "KyClassFactory.h"

// Creates one new object of the class, handed out as `iid`; *object is null on failure.
using ObjectCreator = HRESULT (*)(REFIID iid, void** object);

// Owned by the module and kept until unload; its reference count does not decide its lifetime.
class CSuiteClassObject : public IKyClassFactory, public IKyClassFactory_PreComponentization {
 public:
  explicit CSuiteClassObject(ObjectCreator create) : create_(create) {}
  virtual ~CSuiteClassObject() = default;
  CSuiteClassObject(const CSuiteClassObject&) = delete;
  CSuiteClassObject& operator=(const CSuiteClassObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  // Both factory identities share this one method.
  STDMETHODIMP CreateInstance(REFIID iid, IUnknown** object) override;

 private:
  const ObjectCreator create_;
};
