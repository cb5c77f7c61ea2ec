// The library's entry points. DllMain only records the module handle: it runs under the loader
// lock, where creating the diagnostic log (registry reads, a trace provider's registration, a file)
// must not happen. The log starts with the first entry point COM calls.
#include <windows.h>
#include <objbase.h>

#include <mutex>

#include "LogInstance.h"
#include "ModuleVersion.h"
#include "ObjectMap.h"
#include "PublisherCheck.h"
#include "ServerRegistration.h"
#include "ZELEventHandlerModule.h"

using ETWLogging::kLevelNormal;

namespace {

void StartLog() {
  static std::once_flag started;
  std::call_once(started, [] {
    SetLogIdentity(nullptr, L"ZelEventHandler", nullptr, nullptr, ETWLogging::kMechanismFromRegistry);
    ZEL_LOG(kLevelNormal, L"stdafx", L"CZELEventHandlerModule::DllMain", L"ZelEventHandler: Starting (Version %s)\r\n",
            Strata::GetModuleVersion().version.c_str());
    Ky::NoteDevelopmentBuild(L"stdafx", L"CZELEventHandlerModule::DllMain");
  });
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module.SetInstance(instance);
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return g_module.CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  StartLog();
  return GetEventHandlerClassObject(clsid, iid, object);
}

STDAPI DllRegisterServer() {
  StartLog();
  return RegisterServer();
}

STDAPI DllUnregisterServer() {
  StartLog();
  return UnregisterServer();
}
