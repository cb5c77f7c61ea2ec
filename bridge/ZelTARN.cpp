// The library's entry points; connections are made per object when first needed.
#include <windows.h>
#include <objbase.h>

#include "LibraryEntryPoints.h"
#include "ServerRegistration.h"
#include "ZelTARNModule.h"

namespace {

constexpr Ky::LibraryEntryPoints<CZelTARNModule> kEntryPoints(
    g_module, {L"ZelTARN", L"ZelTARN", L"DllMain", L"ZEL TARN Loaded (Version %s)\r\n"});

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
  return kEntryPoints.Main(instance, reason, reserved);
}

STDAPI DllCanUnloadNow() { return kEntryPoints.CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return kEntryPoints.Logged([&] { return g_module.GetClassObject(clsid, iid, object); });
}

STDAPI DllRegisterServer() { return kEntryPoints.Logged(ServerRegistration::Register); }

STDAPI DllUnregisterServer() { return kEntryPoints.Logged(ServerRegistration::Unregister); }
