#include "AlertClassFactory.h"

#include "Alert.h"
#include "AtomicCount.h"
#include "CallingProcess.h"
#include "ComGuard.h"
#include "LogInstance.h"

namespace {

// The system's activation service, which some activations pass through: the client behind it is
// not known here, and each of its calls is checked instead.
bool IsActivationService(const std::wstring& program) {
  wchar_t system[MAX_PATH] = L"";
  const UINT chars = ::GetSystemDirectoryW(system, MAX_PATH);
  if (chars == 0 || chars >= MAX_PATH) return false;
  for (const wchar_t* service : {L"\\svchost.exe", L"\\rpcss.exe"}) {
    if (::lstrcmpiW(program.c_str(), (std::wstring(system) + service).c_str()) == 0) return true;
  }
  return false;
}

// Only the product's own processes may create alerts, and so keep the server running.
HRESULT AdmitCreator() {
  std::wstring refused;
  const HRESULT hr = Ky::CheckCallingProcess(&refused);
  if (SUCCEEDED(hr) || IsActivationService(refused)) return S_OK;
  ZEL_LOG(ETWLogging::kLevelError, L"Alerter", L"CAlertClassFactory::CreateInstance",
          L"Refused to create an alert for %s (0x%08X)\r\n", refused.c_str(), hr);
  return E_ACCESSDENIED;
}

}  // namespace

STDMETHODIMP CAlertClassFactory::QueryInterface(REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
  *object = static_cast<IClassFactory*>(this);
  return S_OK;
}

STDMETHODIMP CAlertClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  if (!lifetime_.TryHold()) return CO_E_SERVER_STOPPING;
  // Inside the hold: a refused creation still counts as the server's use, which then ends soon.
  const HRESULT hr = GuardHResult([&] {
    const HRESULT admitted = AdmitCreator();
    return FAILED(admitted) ? admitted : CAlert::Create(services_, iid, object);
  });
  lifetime_.Release();
  return hr;
}

STDMETHODIMP CAlertClassFactory::LockServer(BOOL lock) {
  if (!lock) {
    if (!Strata::TakeOneIfAny(serverLocks_)) return E_UNEXPECTED;
    lifetime_.Release();
    return S_OK;
  }
  if (!lifetime_.TryHold()) return CO_E_SERVER_STOPPING;
  ++serverLocks_;
  return S_OK;
}
