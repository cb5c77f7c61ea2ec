#include "AlertEngine.h"

#include <oleauto.h>

#include "AlertNotification.h"
#include "KyAlert.h"
#include "LogInstance.h"
#include "PublisherCheck.h"

namespace {

// IAlert's type information from the program's own type library; none when it has none (tests).
Microsoft::WRL::ComPtr<ITypeInfo> LoadAlertTypeInfo() {
  Microsoft::WRL::ComPtr<ITypeLib> library;
  Microsoft::WRL::ComPtr<ITypeInfo> info;
  const std::wstring path = Ky::ModuleFileName(nullptr);
  if (SUCCEEDED(::LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library))) library->GetTypeInfoOfGuid(IID_IAlert, &info);
  return info;
}

}  // namespace

CAlertEngine::CAlertEngine(const AlertEngineOptions& options)
    : retry_(options.retryDelaySeconds != 0), launcher_(options.uiClassesKey) {
  // Libraries load from the system folder only, unless given by full path.
  if (!::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    ZEL_LOG(ETWLogging::kLevelError, L"Alerter", L"CAlerterModule::CAlerterModule", L"Failed: secure dll loading");
  }
  bindResult_ = library_.Bind(options.libraryFolder);
  if (bindResult_ != 0) {
    ZEL_LOG(ETWLogging::kLevelError, L"Alerter", L"CAlerterModule::CAlerterModule",
            L"Failed to initialize the alerter library! (Result 0x%08X)\r\n", bindResult_);
  }
  // Tracked alerts end on the notification thread: without it none could end, so none is shown.
  const DWORD notifications = library_.Bound() ? notificationThread_.Start() : 0;
  if (notifications != 0) {
    ZEL_LOG(ETWLogging::kLevelError, L"Alerter", L"CAlerterModule::CAlerterModule",
            L"Failed to start the notification thread (error %u)\r\n", notifications);
  }
  services_.library = library_.Bound() && notifications == 0 ? &library_ : nullptr;
  services_.notificationThread = services_.library ? &notificationThread_ : nullptr;
  services_.active = &active_;
  services_.retry = &retry_;
  services_.launcher = &launcher_;
  services_.lifetime = options.lifetime;
  services_.alertTypeInfo = LoadAlertTypeInfo();
  CAlertNotification::Attach(&services_);
  if (options.retryDelaySeconds == 0) return;
  retryThread_ = std::make_unique<CRetryThread>(services_, options.retryDelaySeconds);
  const DWORD started = retryThread_->Start();
  if (started == 0) {
    services_.retryThread = retryThread_.get();
  } else {
    retry_.Disable();
    ZEL_LOG(ETWLogging::kLevelError, L"Alerter", L"CAlerterModule::CAlerterModule",
            L"Failed to start the retry thread (error %u)\r\n", started);
  }
}

void CAlertEngine::StopThreads() noexcept {
  if (retryThread_) retryThread_->Stop();
  // No notification may reach the collections once the library is gone or they are freed: the
  // running ones are waited for, and what they handed over is done before the library goes.
  CAlertNotification::Attach(nullptr);
  notificationThread_.Stop();
}

CAlertEngine::~CAlertEngine() {
  StopThreads();
  services_.retryThread = nullptr;
  services_.notificationThread = nullptr;
  services_.library = nullptr;
  library_.Unbind();
}
