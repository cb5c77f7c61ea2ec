// A tiny automation class served only through the suite factory interfaces, as the suite's own
// classes are: a script reaches it only through the script host. Registered by tests under class
// ids of their own, so it serves whichever class id it is asked for.
//   Twice(n) -> 2n        Greet(name) -> "Hello, <name>"
#include <windows.h>

#include <wrl/client.h>

#include <string>

#include "DispatchObject.h"
#include "InprocModule.h"
#include "SuiteClassFactory.h"

namespace {

using namespace ZelStandIns;

class ScriptTestObject : public DispatchObject<ServerLock> {
 protected:
  size_t MethodCount() const override { return 2; }
  const wchar_t* MethodName(size_t index) const override { return index == 0 ? L"Twice" : L"Greet"; }
  HRESULT CallMethod(DISPID id, const DISPPARAMS& parameters, VARIANT* result) override {
    VARIANT argument;
    HRESULT hr = Argument(parameters, 0, id == 1 ? VT_I4 : VT_BSTR, &argument);
    if (FAILED(hr)) return hr;
    ::VariantClear(result);
    if (id == 1) {
      V_VT(result) = VT_I4;
      V_I4(result) = V_I4(&argument) * 2;
    } else {
      V_VT(result) = VT_BSTR;
      V_BSTR(result) = ::SysAllocString((L"Hello, " + std::wstring(V_BSTR(&argument))).c_str());
      if (!V_BSTR(result)) hr = E_OUTOFMEMORY;
    }
    ::VariantClear(&argument);
    return hr;
  }

 private:
};

}  // namespace

STDAPI DllGetClassObject(REFCLSID, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  Microsoft::WRL::ComPtr<IKyClassFactory> factory;
  factory = Ky::AdoptNew<IKyClassFactory>(new (std::nothrow) SuiteClassFactory([](REFIID objectIid, void** created) {
    return ScriptTestObject::CreateInstance<ScriptTestObject>(objectIid, created);
  }));
  return factory ? factory->QueryInterface(iid, object) : E_OUTOFMEMORY;
}

STDAPI DllCanUnloadNow() { return ModuleIsIdle() ? S_OK : S_FALSE; }
