// The standard class object of one of the library's service-event sinks: IClassFactory, with each
// server lock holding one module lock. Classes of the suite kind are served by Ky::CSuiteClassObject.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

#include "ObjectMap.h"

class CClassObject final : public IClassFactory {
 public:
  explicit CClassObject(CreateObjectFn create) noexcept : create_(create) {}
  CClassObject(const CClassObject&) = delete;
  CClassObject& operator=(const CClassObject&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  STDMETHODIMP LockServer(BOOL lock) override;

 private:
  ~CClassObject() = default;

  const CreateObjectFn create_;
  std::atomic<ULONG> references_{1};
};
