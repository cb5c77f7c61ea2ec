// The library's completion notification for tracked alerts. The library is handed only an id; the
// request is claimed from ActiveAlerts under its lock, so a notification for an alert that is
// closed, purged or was never there finds nothing and does nothing. The library's thread does no
// more than that claim: the rest of the work is done on the alerter's notification thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "AlertRequest.h"
#include "AlertServices.h"
#include "KyPltAlt.h"
#include "NotificationThread.h"
#include "SlimLock.h"

class CAlertNotification {
 public:
  // The services notifications act on; null ignores every notification. Set while no alert is
  // shown yet; clearing waits for every notification already running, and none starts after it,
  // so the collections and the library may then go.
  static void Attach(AlertServices* services) noexcept;

  static void* ContextOf(uint64_t id) noexcept { return reinterpret_cast<void*>(static_cast<uintptr_t>(id)); }
  static void __stdcall OnAlertNotification(uint32_t alertHandle, int32_t code, const AlertResult* result,
                                            void* context) noexcept;
  // The work of an ended alert, on the notification thread: the chosen button, the
  // do-not-show-again answer; the caller then lets go of the request.
  static void End(AlertServices& services, const EndedAlert& ended);

 private:
  static void LaunchChosenButton(AlertServices& services, const AlertRequest& request, uint32_t chosen);
  static void CallBackDoNotShowAgain(const AlertRequest& request);
  // Ends every other request of the type: queued ones are dropped, shown ones closed.
  static void Purge(AlertServices& services, const AlertRequest::Text& typeId);

  // Shared by each running notification, exclusive while attaching.
  static Strata::SlimLock gate_;
  static AlertServices* services_;  // guarded by gate_
};
