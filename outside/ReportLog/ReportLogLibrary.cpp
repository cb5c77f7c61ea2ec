// The report log stand-in served in-process instead: the same class from a library, for
// comparing the two. Registering it replaces the local-server registration; its records and
// knobs are those of stand-in "ReportLog" (the caller's per-process subkey first).
#include <windows.h>

#include <wrl/client.h>

#include "InprocModule.h"
#include "ModuleFileName.h"
#include "ReportLog.h"
#include "ServerRegistration.h"
#include "SuiteClassFactory.h"

namespace {

using namespace ZelStandIns;

const ClassRegistration kRegistration{CLSID_KyReportLog, L"Report log stand-in (in-process)", nullptr};

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_KyReportLog) return CLASS_E_CLASSNOTAVAILABLE;
  Microsoft::WRL::ComPtr<IKyClassFactory> factory;
  factory = Ky::AdoptNew<IKyClassFactory>(new (std::nothrow) LibraryClassObject<SuiteClassFactory>([](REFIID objectIid, void** created) {
    return ReportLog::CreateInstance<ReportLog>(objectIid, created, std::wstring(L"ReportLog"));
  }));
  return factory ? factory->QueryInterface(iid, object) : E_OUTOFMEMORY;
}

STDAPI DllCanUnloadNow() { return ModuleIsIdle() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  return RegisterClassServer(kRegistration, ServerKind::InProcess, Strata::ModuleFileName(ThisModule()));
}

STDAPI DllUnregisterServer() { return UnregisterClassServer(kRegistration, ServerKind::InProcess); }
