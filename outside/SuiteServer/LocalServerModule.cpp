#include "LocalServerModule.h"

#include "Handles.h"
#include "ServerLock.h"

namespace ZelStandIns {

namespace {

constexpr DWORD kFirstClientWaitMs = 60000;

// Set when the last server reference goes; COM has then already stopped new activations here.
Strata::UniqueHandle& LastReleaseEvent() {
  static Strata::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  return event;
}

}  // namespace

void LockServer() noexcept { ::CoAddRefServerProcess(); }

void UnlockServer() noexcept {
  if (::CoReleaseServerProcess() == 0) ::SetEvent(LastReleaseEvent().get());
}

HRESULT ServeClass(REFCLSID clsid, IUnknown* factory) {
  HANDLE lastRelease = LastReleaseEvent().get();
  if (!lastRelease) return HRESULT_FROM_WIN32(::GetLastError());
  DWORD cookie = 0;
  HRESULT hr = ::CoRegisterClassObject(clsid, factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED,
                                       &cookie);
  if (FAILED(hr)) return hr;
  hr = ::CoResumeClassObjects();
  if (SUCCEEDED(hr) && ::WaitForSingleObject(lastRelease, kFirstClientWaitMs) == WAIT_TIMEOUT) {
    // Nobody has come: give up the start-up reference so that the process can end.
    ::CoAddRefServerProcess();
    UnlockServer();
    ::WaitForSingleObject(lastRelease, INFINITE);
  }
  ::CoRevokeClassObject(cookie);
  return hr;
}

}  // namespace ZelStandIns
