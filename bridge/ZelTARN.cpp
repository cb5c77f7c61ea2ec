// The library's entry points. DllMain only records who the library is; connections are made per
// object when first needed.
#include <windows.h>
#include <objbase.h>

#include "LogInstance.h"
#include "ModuleVersion.h"
#include "PublisherCheck.h"
#include "ServerRegistration.h"
#include "ZelTARNModule.h"

using ETWLogging::kLevelNormal;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module.SetInstance(instance);
    ::DisableThreadLibraryCalls(instance);
    SetLogIdentity(nullptr, L"ZelTARN", nullptr, nullptr, ETWLogging::kMechanismFromRegistry);
    ZEL_LOG(kLevelNormal, L"ZelTARN", L"DllMain", L"ZEL TARN Loaded (Version %s)\r\n",
            Strata::GetModuleVersion().version.c_str());
    Ky::NoteDevelopmentBuild(L"ZelTARN", L"DllMain");
  } else if (reason == DLL_PROCESS_DETACH) {
    ZEL_LOG(kLevelNormal, L"ZelTARN", L"DllMain", L"ZEL TARN Unloaded\r\n\r\n");
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return g_module.CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return g_module.GetClassObject(clsid, iid, object);
}

STDAPI DllRegisterServer() { return ServerRegistration::Register(); }

STDAPI DllUnregisterServer() { return ServerRegistration::Unregister(); }
