// The library's entry points. DllMain only records who the library is; everything else starts
// with the first object.
#include <windows.h>
#include <objbase.h>

#include "LogInstance.h"
#include "ModuleVersion.h"
#include "ZELEventHandlerModule.h"

using ETWLogging::kLevelNormal;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module.SetInstance(instance);
    ::DisableThreadLibraryCalls(instance);
    SetLogIdentity(nullptr, L"ZelEventHandler", nullptr, nullptr, ETWLogging::kMechanismFromRegistry);
    ZEL_LOG(kLevelNormal, L"stdafx", L"CZELEventHandlerModule::DllMain", L"ZelEventHandler: Starting (Version %s)\r\n",
            Strata::GetModuleVersion().version.c_str());
  } else if (reason == DLL_PROCESS_DETACH) {
    ZEL_LOG(kLevelNormal, L"stdafx", L"CZELEventHandlerModule::DllMain", L"ZelEventHandler: Exiting\r\n");
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return g_module.CanUnloadNow(); }

// The handler classes join here as they are built; until then no class is served.
STDAPI DllGetClassObject(REFCLSID, REFIID, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllRegisterServer() { return E_NOTIMPL; }

STDAPI DllUnregisterServer() { return E_NOTIMPL; }
