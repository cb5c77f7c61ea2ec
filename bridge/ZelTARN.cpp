// The library's entry points. DllMain only records the module handle: it runs under the loader
// lock, where creating the diagnostic log (registry reads, a trace provider's registration, a file)
// must not happen. The log starts with the first entry point COM calls; connections are made per
// object when first needed.
#include <windows.h>
#include <objbase.h>

#include "ComGuard.h"
#include "LogInstance.h"
#include "PublisherCheck.h"
#include "RtMui.h"
#include "RuntimeReserve.h"
#include "ServerRegistration.h"
#include "ZelTARNModule.h"

namespace {

void StartLog() {
  if (StartLibraryLog(L"ZelTARN", L"ZelTARN", L"DllMain", L"ZEL TARN Loaded (Version %s)\r\n"))
    Ky::NoteDevelopmentBuild(L"ZelTARN", L"DllMain");
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module.SetInstance(instance);
    ::DisableThreadLibraryCalls(instance);
  }
  // Unloaded by FreeLibrary (reserved is null) rather than by the process ending.
  if (reason == DLL_PROCESS_DETACH && !reserved) Strata::ReleaseRuntimeReserve();
  return TRUE;
}

STDAPI DllCanUnloadNow() {
  return GuardHResult([] {
    const HRESULT answer = g_module.CanUnloadNow();
    // The language library goes with this one; were this one kept after all, its next use binds
    // the language library again.
    if (answer == S_OK) Strata::RtMui::Release();
    return answer;
  });
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return GuardHResult([&] {
    StartLog();
    return g_module.GetClassObject(clsid, iid, object);
  });
}

STDAPI DllRegisterServer() {
  return GuardHResult([] {
    StartLog();
    return ServerRegistration::Register();
  });
}

STDAPI DllUnregisterServer() {
  return GuardHResult([] {
    StartLog();
    return ServerRegistration::Unregister();
  });
}
