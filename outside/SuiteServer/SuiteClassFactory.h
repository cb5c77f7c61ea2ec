// Class objects of the stand-ins. The platform's classes answer only the suite factory interfaces
// (never IClassFactory), so a caller must come through CreateInstanceViaFactory; automation
// classes that scripts create themselves answer IClassFactory.
#pragma once

#include <windows.h>

#include <functional>

#include "ComGuard.h"
#include "KyClassFactory.h"
#include "ServerLock.h"

namespace ZelStandIns {

// Creates one object for `iid`; answers null and an HRESULT on failure.
using ObjectCreator = std::function<HRESULT(REFIID iid, void** object)>;

class SuiteClassFactory : public ComObject<IKyClassFactory, IKyClassFactory_PreComponentization> {
 public:
  explicit SuiteClassFactory(ObjectCreator create) : create_(std::move(create)) {}
  // Both factory identities share this one method.
  STDMETHODIMP CreateInstance(REFIID iid, IUnknown** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    return GuardHResult([&] { return create_(iid, reinterpret_cast<void**>(object)); });
  }

 private:
  const ObjectCreator create_;
};

class PlainClassFactory : public ComObject<IClassFactory> {
 public:
  explicit PlainClassFactory(ObjectCreator create) : create_(std::move(create)) {}
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return GuardHResult([&] { return create_(iid, object); });
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    lock ? ZelStandIns::LockServer() : ZelStandIns::UnlockServer();
    return S_OK;
  }

 private:
  const ObjectCreator create_;
};

// A class object handed out by a library's DllGetClassObject: the library stays loaded while a
// caller holds it, as between getting the class object and creating through it (a caller freeing
// unused libraries meanwhile would otherwise unload the code it is about to call).
template <typename Factory>
class LibraryClassObject : public Factory {
 public:
  using Factory::Factory;

 private:
  ServerReference server_;
};

}  // namespace ZelStandIns
