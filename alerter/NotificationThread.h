// The alerter's own thread for what a library notification asks for: starting the user interface,
// calling a caller back, purging a type, and letting go of the request (and so of its CAlert and
// callback). The library's thread only hands the ended alert over, so no COM work runs on a thread
// whose apartment the alerter does not choose.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>

#include "AlertRequest.h"
#include "AlertServices.h"
#include "Handles.h"
#include "KyThread.h"
#include "SlimLock.h"

// How an alert the library ended was answered.
struct EndedAlert {
  AlertRequestPtr request;
  bool completed = false;  // the result's status was 0: the answer below counts
  uint32_t chosenButton = 0;
  bool optionTicked = false;
};

class CNotificationThread final : public CKyThread {
 public:
  explicit CNotificationThread(AlertServices& services) noexcept : services_(services) {}
  ~CNotificationThread() override { Stop(); }

  // 0, ERROR_ALREADY_INITIALIZED (1247) when it runs already, or the system's error.
  DWORD Start();
  // Any thread; holds a lock only to queue. What is posted before Stop is done before it returns.
  void Post(EndedAlert ended);

 protected:
  void Run() override;
  void Signal() noexcept override { ::SetEvent(stop_.get()); }

 private:
  void DoPosted();

  AlertServices& services_;
  // Created before the thread starts, closed after it has ended.
  Strata::UniqueHandle stop_;
  Strata::UniqueHandle posted_;
  Strata::SlimLock lock_;
  std::deque<EndedAlert> queue_;  // guarded by lock_; no longer than ActiveAlerts was
};
