// The library's entry points.
#include <windows.h>
#include <objbase.h>

#include "LibraryEntryPoints.h"
#include "ObjectMap.h"
#include "ServerRegistration.h"
#include "ZELEventHandlerModule.h"

namespace {

constexpr Ky::LibraryEntryPoints<CZELEventHandlerModule> kEntryPoints(
    g_module, {L"ZelEventHandler", L"stdafx", L"CZELEventHandlerModule::DllMain",
               L"ZelEventHandler: Starting (Version %s)\r\n"});

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void* reserved) {
  return kEntryPoints.Main(instance, reason, reserved);
}

STDAPI DllCanUnloadNow() { return kEntryPoints.CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  return kEntryPoints.Logged([&] { return GetEventHandlerClassObject(clsid, iid, object); });
}

STDAPI DllRegisterServer() { return kEntryPoints.Logged(RegisterServer); }

STDAPI DllUnregisterServer() { return kEntryPoints.Logged(UnregisterServer); }
