// Everything that shows alerts, apart from the COM server around it: the library binding, the two
// collections, the user-interface launcher and the retry thread. Tests build one in their own
// process with a library folder and settings of their choice.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>

#include "ActiveAlerts.h"
#include "AltLib.h"
#include "AlertServices.h"
#include "NotificationThread.h"
#include "RetryList.h"
#include "RetryThread.h"
#include "UiLauncher.h"

struct AlertEngineOptions {
  std::wstring libraryFolder;  // empty: the platform's search
  uint32_t retryDelaySeconds = 10;  // 0: nothing is queued and no retry thread runs
  std::wstring uiClassesKey = L"Software\\Classes";
  CServerLifetime* lifetime = nullptr;
};

class CAlertEngine {
 public:
  explicit CAlertEngine(const AlertEngineOptions& options);
  ~CAlertEngine();
  CAlertEngine(const CAlertEngine&) = delete;
  CAlertEngine& operator=(const CAlertEngine&) = delete;

  AlertServices& Services() noexcept { return services_; }
  DWORD BindResult() const noexcept { return bindResult_; }
  bool RetryThreadRunning() const noexcept { return retryThread_ && retryThread_->IsRunning(); }
  size_t ActiveCount() const { return active_.Count(); }
  size_t QueuedCount() const { return retry_.Count(); }
  // Ends the retry and notification threads, so that they leave their apartment: nothing is
  // replayed and no notification acts afterwards.
  void StopThreads() noexcept;

 private:
  // First, so that it is gone last: requests freed with the collections release their CAlert,
  // which still reaches the services then.
  AlertServices services_;
  CAltLib library_;
  CActiveAlerts active_;
  CRetryList retry_;
  CUiLauncher launcher_;
  CNotificationThread notificationThread_{services_};
  std::unique_ptr<CRetryThread> retryThread_;
  DWORD bindResult_ = 0;
};
