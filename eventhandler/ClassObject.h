// The standard class object of one of the library's service-event sinks: IClassFactory, with each
// server lock holding one module lock. Classes of the suite kind are served by Ky::CSuiteClassObject.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

#include "ClassObjectReferences.h"
#include "ObjectMap.h"

class CClassObject final : public IClassFactory {
 public:
  // `libraryHolds` counts the library's class objects held by callers.
  CClassObject(CreateObjectFn create, std::atomic<LONG>& libraryHolds) noexcept
      : create_(create), references_(libraryHolds) {}
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
  Ky::ClassObjectReferences references_;
};
