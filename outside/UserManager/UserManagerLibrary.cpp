// The user manager stand-in, served in-process like the platform's (the callers ask with every
// context, and the sign-in handler with the publisher check, which an in-process module allows).
// Its state is that of stand-in "UserManager", the calling process's subkey first. Creation
// knobs there: "CreateHResult" (a failure the class object answers, e.g. CO_E_SERVER_STOPPING,
// with no object) and "CreateNullObject" (non-zero: success with no object).
#include <windows.h>

#include <wrl/client.h>

#include "InprocModule.h"
#include "ModuleFileName.h"
#include "ServerRegistration.h"
#include "StandInState.h"
#include "SuiteClassFactory.h"
#include "UserManager.h"

namespace {

using namespace ZelStandIns;

const ClassRegistration kRegistration{CLSID_KyUserManager, L"User manager stand-in", nullptr};

HRESULT CreateUserManager(REFIID iid, void** object) {
  std::wstring keyPath = StateKeyPath(L"UserManager");
  Strata::UniqueHkey state = OpenKey(HKEY_LOCAL_MACHINE, keyPath, false);
  HRESULT configured = static_cast<HRESULT>(ReadDword(state.get(), L"CreateHResult").value_or(S_OK));
  if (FAILED(configured)) return configured;
  if (ReadDword(state.get(), L"CreateNullObject").value_or(0)) return S_OK;
  return UserManager::CreateInstance<UserManager>(iid, object, keyPath);
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (clsid != CLSID_KyUserManager) return CLASS_E_CLASSNOTAVAILABLE;
  Microsoft::WRL::ComPtr<IKyClassFactory> factory;
  factory = Ky::AdoptNew<IKyClassFactory>(new (std::nothrow) LibraryClassObject<SuiteClassFactory>(CreateUserManager));
  return factory ? factory->QueryInterface(iid, object) : E_OUTOFMEMORY;
}

STDAPI DllCanUnloadNow() { return ModuleIsIdle() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  return RegisterClassServer(kRegistration, ServerKind::InProcess, Strata::ModuleFileName(ThisModule()));
}

STDAPI DllUnregisterServer() { return UnregisterClassServer(kRegistration, ServerKind::InProcess); }
