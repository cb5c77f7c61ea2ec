// An in-process server whose class objects answer only the older suite factory interface. It
// serves every class id registered to it, so each test can register a class of its own. The build
// leaves it unsigned; the signature tests sign copies of it.
#include <windows.h>

#include <wrl/client.h>

#include "KyClassFactory.h"
#include "OlderFactory.h"

// Text that the signature tests change after signing, to prove a changed file is refused.
extern "C" __declspec(dllexport) const char FactoryTestServerMark[] = "ZEL factory test server, unchanged";

// Records in the process environment which copy of this module was loaded, so that a test can tell
// that a copy it refused never ran.
extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH] = L"";
    ::GetModuleFileNameW(instance, path, MAX_PATH);
    ::SetEnvironmentVariableW(L"ZEL_FACTORY_TEST_SERVER_LOADED", path);
  }
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  auto* factory = new (std::nothrow) ZelTest::OlderFactory();
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(iid, object);
  factory->Release();
  return hr;
}

extern "C" __declspec(dllexport) HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  return ZelTest::LiveServerObjects() == 0 ? S_OK : S_FALSE;
}

// A creation method for another module's class object to borrow.
extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE DelegatedCreateInstance(void*, REFIID iid,
                                                                                  IUnknown** object) {
  Microsoft::WRL::ComPtr<ZelTest::OlderFactory> factory;
  *factory.GetAddressOf() = new (std::nothrow) ZelTest::OlderFactory();
  return factory ? factory->CreateInstance(iid, object) : E_OUTOFMEMORY;
}

// Asks a suite class object for an object with this module as the caller, so that a test can show
// what a class object does for a caller that is signed, or not, as this copy is.
extern "C" __declspec(dllexport) HRESULT CreateThroughFactory(IUnknown* classObject, REFIID iid, IUnknown** object) {
  Microsoft::WRL::ComPtr<IKyClassFactory> factory;
  HRESULT hr = classObject->QueryInterface(IID_PPV_ARGS(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(iid, object);
  // Work after the call keeps it from becoming a jump, which would hand over the test's own return
  // address.
  factory.Reset();
  return hr;
}

// Registers, in this process, a class object that claims to be a proxy (it answers
// IClientSecurity) under `clsid` for out-of-process activation.
extern "C" __declspec(dllexport) HRESULT RegisterProxyClaimingClassObject(REFCLSID clsid, DWORD* cookie) {
  Microsoft::WRL::ComPtr<ZelTest::ProxyClaimingFactory> factory;
  *factory.GetAddressOf() = new (std::nothrow) ZelTest::ProxyClaimingFactory();
  if (!factory) return E_OUTOFMEMORY;
  return ::CoRegisterClassObject(clsid, static_cast<IKyClassFactory_PreComponentization*>(factory.Get()),
                                 CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, cookie);
}
