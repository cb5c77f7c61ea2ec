// The script host stand-in's library surface. Unlike the suite's classes it serves IClassFactory,
// so that cscript can create it.
#include <windows.h>

#include <wrl/client.h>

#include "InprocModule.h"
#include "ModuleFileName.h"
#include "ScriptHost.h"
#include "ServerRegistration.h"
#include "SuiteClassFactory.h"

namespace {

using namespace ZelStandIns;

const ClassRegistration kRegistration{kScriptHostClassId, L"Platform script host stand-in", L"ZelStandIns.ScriptHost"};

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != kScriptHostClassId) return CLASS_E_CLASSNOTAVAILABLE;
  Microsoft::WRL::ComPtr<IClassFactory> factory;
  factory = Ky::AdoptNew<IClassFactory>(new (std::nothrow) LibraryClassObject<PlainClassFactory>([](REFIID objectIid, void** created) {
    return ScriptHost::CreateInstance<ScriptHost>(objectIid, created);
  }));
  return factory ? factory->QueryInterface(iid, object) : E_OUTOFMEMORY;
}

STDAPI DllCanUnloadNow() { return ModuleIsIdle() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  return RegisterClassServer(kRegistration, ServerKind::InProcess, Strata::ModuleFileName(ThisModule()));
}

STDAPI DllUnregisterServer() { return UnregisterClassServer(kRegistration, ServerKind::InProcess); }
