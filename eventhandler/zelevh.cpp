// The library's entry points. DllMain only records who the library is; everything else starts
// with the first object.
#include <windows.h>
#include <objbase.h>

#include "LogInstance.h"
#include "ModuleVersion.h"
#include "ObjectMap.h"
#include "PublisherCheck.h"
#include "ServerRegistration.h"
#include "ZELEventHandlerModule.h"

using ETWLogging::kLevelNormal;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module.SetInstance(instance);
    ::DisableThreadLibraryCalls(instance);
    SetLogIdentity(nullptr, L"ZelEventHandler", nullptr, nullptr, ETWLogging::kMechanismFromRegistry);
    ZEL_LOG(kLevelNormal, L"stdafx", L"CZELEventHandlerModule::DllMain", L"ZelEventHandler: Starting (Version %s)\r\n",
            Strata::GetModuleVersion().version.c_str());
    Ky::NoteDevelopmentBuild(L"stdafx", L"CZELEventHandlerModule::DllMain");
  } else if (reason == DLL_PROCESS_DETACH) {
    ZEL_LOG(kLevelNormal, L"stdafx", L"CZELEventHandlerModule::DllMain", L"ZelEventHandler: Exiting\r\n");
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return g_module.CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return GetEventHandlerClassObject(clsid, iid, object);
}

STDAPI DllRegisterServer() { return RegisterServer(); }

STDAPI DllUnregisterServer() { return UnregisterServer(); }
