#include "AlerterModule.h"

#include <objbase.h>

#include "AlertClassFactory.h"
#include "AlertEngine.h"
#include "ComApartment.h"
#include "ComGuard.h"
#include "Handles.h"
#include "KyAlert.h"
#include "LogInstance.h"
#include "ProductSetting.h"
#include "ServerLifetime.h"
#include "ServerRegistration.h"

namespace {

constexpr wchar_t kSource[] = L"Alerter";


void PumpUntilQuit() {
  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

}  // namespace

CAlerterModule::~CAlerterModule() {
  // The class object first, then what it hands to new objects.
  factory_.reset();
  engine_.reset();
  lifetime_.reset();
}

HRESULT CAlerterModule::Run(const wchar_t* commandLine) noexcept {
  return GuardHResult([&] {
    // Another apartment already chosen for this thread is refused, as calls could then arrive on a
    // thread that cannot take them.
    Strata::MultithreadedApartment com;
    if (FAILED(com.Result())) return com.Result();
    const ServerRegistration::Switch what = ServerRegistration::ParseSwitch(commandLine);
    if (what != ServerRegistration::Switch::None) return ServerRegistration::Apply(what);
    return Serve();
  });
}

HRESULT CAlerterModule::Serve() {
  // The queue the main thread's WM_QUIT lands in exists before the monitor can post it.
  MSG message;
  ::PeekMessageW(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  lifetime_ = std::make_unique<CServerLifetime>(::GetCurrentThreadId(), kShutdownDelayMs, kFirstClientTimeoutMs);
  AlertEngineOptions options;
  options.retryDelaySeconds = ProductSetting::ReadRetryDelaySeconds();
  options.lifetime = lifetime_.get();
  engine_ = std::make_unique<CAlertEngine>(options);
  factory_ = std::make_unique<CAlertClassFactory>(engine_->Services(), *lifetime_);
  HRESULT hr = S_OK;
  {
    Strata::UniqueClassRegistration registration;
    hr = ::CoRegisterClassObject(CLSID_Alert, factory_.get(), CLSCTX_LOCAL_SERVER,
                                 REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, registration.put());
    if (SUCCEEDED(hr)) {
      // HRESULT_FROM_WIN32 may evaluate its argument more than once.
      const DWORD monitor = lifetime_->StartMonitor();
      hr = HRESULT_FROM_WIN32(monitor);
    }
    if (SUCCEEDED(hr)) hr = ::CoResumeClassObjects();
    if (SUCCEEDED(hr)) PumpUntilQuit();
    if (FAILED(hr)) {
      ZEL_LOG(ETWLogging::kLevelError, kSource, L"CAlerterModule::Run", L"Failed to serve (0x%08X)\r\n", hr);
      lifetime_->Abandon();
    }
  }
  // The other threads leave the apartment before this one, so that COM's last uninitialisation runs
  // on this thread while the class object and the engine are alive: it releases the stubs of
  // objects that a client which ended without releasing them left behind, and so calls into both.
  lifetime_->WaitForMonitor();
  engine_->StopThreads();
  ::Sleep(kPauseAfterRevokeMs);
  return hr;
}
