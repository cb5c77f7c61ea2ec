#include "SuiteClassObject.h"

#include <string>

#include "ComGuard.h"
#include "LogInstance.h"

namespace Ky {
namespace {

// A caller that takes this object for an IClassFactory calls the creation slot with its outer
// object where the interface id belongs, usually null. The compiler may assume a reference is never
// null, so the address is laundered before it is compared.
bool IsNullReference(const void* address) {
  __asm__("" : "+r"(address));
  return address == nullptr;
}

}  // namespace

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
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) CSuiteClassObject::AddRef() { return references_.AddRef(); }

STDMETHODIMP_(ULONG) CSuiteClassObject::Release() {
  ULONG left = references_.Release();
  if (left == 0) delete this;
  return left;
}

// Not inlined, so that the return address is the caller's code and not this library's.
__attribute__((noinline)) STDMETHODIMP CSuiteClassObject::CreateInstance(REFIID iid, IUnknown** object) {
  const void* caller = __builtin_return_address(0);
  if (IsNullReference(&iid)) return E_INVALIDARG;
  if (!object) return E_POINTER;
  *object = nullptr;
  return GuardHResult([&] {
    HRESULT check = CheckPublisherOfCode(caller, unsignedPolicy_);
    if (FAILED(check)) {
      HMODULE callerModule = ModuleOfCode(caller);
      const std::wstring callerPath = callerModule ? ModuleFileName(callerModule) : std::wstring();
      ZEL_LOG(ETWLogging::kLevelError, logSource_, L"CSuiteClassObject::CreateInstance",
              L"Refusing to create an object for \"%s\", which fails the publisher check [0x%08X]\r\n",
              callerPath.empty() ? L"(unknown module)" : callerPath.c_str(), check);
      return E_ACCESSDENIED;
    }
    return create_(iid, reinterpret_cast<void**>(object));
  });
}

}  // namespace Ky
