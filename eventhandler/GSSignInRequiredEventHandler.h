// The service's sign-in-required event: signs the platform user of the session in to the service
// (creating the service user when needed, "adult_temp" when the platform cannot name one), and
// after a product upgrade migrates the service's users into platform accounts once instead.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "EventHandlerObject.h"
#include "KyGSEvents.h"

class CGSSignInRequiredEventHandler : public CEventHandlerObject<IKyGSSignInRequiredEvent> {
 public:
  STDMETHODIMP OnSignInRequiredEvent(unsigned long sessionId) override;

  // The wait between two questions for a platform user that is not logged on yet; tests shorten it.
  static void SetPlatformUserWait(DWORD milliseconds) { platformUserWaitMs_ = milliseconds; }

  static bool getTarnUser(unsigned long sessionId, VARIANT* name, int attempt);
  static HRESULT signIntoZel(unsigned long sessionId, const wchar_t* name);
  // Consumes the upgrade marker: true only for the one call whose deletion of the marker succeeded
  // while it said "migrate".
  static bool isUpgradeNeeded();
  static bool getStartupUserId(std::wstring* startupUser);
  static HRESULT AddZELUsersToTARN();

 private:
  HRESULT handleEvent(unsigned long sessionId);

  static std::atomic<DWORD> platformUserWaitMs_;
};
