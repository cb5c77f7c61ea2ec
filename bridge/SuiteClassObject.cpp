#include "SuiteClassObject.h"

#include "LogInstance.h"
#include "PublisherCheck.h"

STDMETHODIMP CSuiteClassObject::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (iid == IID_IUnknown || iid == IID_IKyClassFactory) {
    *object = static_cast<IKyClassFactory*>(this);
  } else if (iid == IID_IKyClassFactory_PreComponentization) {
    *object = static_cast<IKyClassFactory_PreComponentization*>(this);
  } else {
    return E_NOINTERFACE;
  }
  return S_OK;
}

// Not inlined, so that the return address is the caller's code and not this library's.
__attribute__((noinline)) STDMETHODIMP CSuiteClassObject::CreateInstance(REFIID iid, IUnknown** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  HRESULT check = Ky::CheckPublisherOfCode(__builtin_return_address(0));
  if (FAILED(check)) {
    ZEL_LOG(ETWLogging::kLevelError, L"ZelTARN", L"CSuiteClassObject::CreateInstance",
            L"Refusing to create an object for an unverified caller [0x%08X]\r\n", check);
    return E_ACCESSDENIED;
  }
  return create_(iid, reinterpret_cast<void**>(object));
}
