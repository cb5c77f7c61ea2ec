// The class object of a class served only through the suite's class-factory interfaces. Both
// product libraries serve such classes; it never answers IClassFactory, so clients come through the
// platform's creation path, and it creates objects only for callers whose module passes the
// publisher check.
#pragma once

#include <windows.h>

#include <atomic>

#include "ClassObjectReferences.h"
#include "ComObject.h"
#include "KyClassFactory.h"
#include "PublisherCheck.h"

namespace Ky {

// Creates one new object of the class, handed out as `iid`; *object is null on failure.
using ObjectCreator = HRESULT (*)(REFIID iid, void** object);

class CSuiteClassObject final : public IKyClassFactory, public IKyClassFactory_PreComponentization {
 public:
  // `logSource` is the source-file text of the diagnostic line a refusal writes. `libraryHolds`
  // counts the library's class objects held by callers. `unsignedPolicy` is what the check makes of
  // an unsigned caller.
  CSuiteClassObject(ObjectCreator create, const wchar_t* logSource, std::atomic<LONG>& libraryHolds,
                    UnsignedModules unsignedPolicy = BuildUnsignedModulePolicy()) noexcept
      : create_(create), logSource_(logSource), unsignedPolicy_(unsignedPolicy), references_(libraryHolds) {}
  CSuiteClassObject(const CSuiteClassObject&) = delete;
  CSuiteClassObject& operator=(const CSuiteClassObject&) = delete;

  // IUnknown is the IKyClassFactory identity: nothing here is reachable as IClassFactory.
  STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // Both factory identities share this one method.
  STDMETHODIMP CreateInstance(REFIID iid, IUnknown** object) override;

 private:
  ~CSuiteClassObject() = default;

  const ObjectCreator create_;
  const wchar_t* const logSource_;
  const UnsignedModules unsignedPolicy_;
  ClassObjectReferences references_;
};

}  // namespace Ky
