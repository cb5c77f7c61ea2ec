// Replays the queued alerts: at once when woken, and every retry delay while the head keeps
// failing. Never holds a lock of ours while an alert is shown.
#pragma once

#include <windows.h>

#include <cstdint>

#include "AlertServices.h"
#include "Handles.h"
#include "KyThread.h"

class CRetryThread final : public CKyThread {
 public:
  CRetryThread(AlertServices& services, uint32_t delaySeconds) noexcept;
  ~CRetryThread() override;

  // 0, ERROR_ALREADY_INITIALIZED (1247) when it runs already, or the system's error; no thread is
  // started without its events and timer.
  DWORD Start();
  void Wake() noexcept;

  // The relative due time of the retry timer, in 100 ns units (negative).
  static LONGLONG DueTime(uint32_t delaySeconds) noexcept;

 protected:
  void Run() override;
  void Signal() noexcept override;

 private:
  void ProcessQueue();
  void ArmTimer() noexcept;

  AlertServices& services_;
  const uint32_t delaySeconds_;
  // Created before the thread starts, closed after it has ended.
  Strata::UniqueHandle stop_;
  Strata::UniqueHandle wake_;
  Strata::UniqueHandle timer_;
};
