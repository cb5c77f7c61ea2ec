// An in-process server whose class objects answer only the older suite factory interface. It
// serves every class id registered to it, so each test can register a class of its own.
#include <windows.h>

#include "OlderFactory.h"

// Text that the signature tests change after signing, to prove a changed file is refused.
extern "C" __declspec(dllexport) const char FactoryTestServerMark[] = "ZEL factory test server, unchanged";

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
