// The library's completion notification for tracked alerts. The library is handed only an id; the
// request is claimed from ActiveAlerts under its lock, so a notification for an alert that is
// closed, purged or was never there finds nothing and does nothing.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "AlertRequest.h"
#include "AlertServices.h"
#include "KyPltAlt.h"

class CAlertNotification {
 public:
  // The services notifications act on; null ignores every notification. Set while no alert is
  // shown yet, cleared before the library is freed.
  static void Attach(AlertServices* services) noexcept { services_.store(services); }

  static void* ContextOf(uint64_t id) noexcept { return reinterpret_cast<void*>(static_cast<uintptr_t>(id)); }
  static void __stdcall OnAlertNotification(uint32_t alertHandle, int32_t code, const AlertResult* result,
                                            void* context) noexcept;

 private:
  static void Complete(AlertServices& services, const AlertRequest& request, const AlertResult& result);
  static void LaunchChosenButton(AlertServices& services, const AlertRequest& request, uint32_t chosen);
  static void CallBackDoNotShowAgain(const AlertRequest& request);
  // Ends every other request of the type: queued ones are dropped, shown ones closed.
  static void Purge(AlertServices& services, const AlertRequest::Text& typeId);

  static std::atomic<AlertServices*> services_;
};
