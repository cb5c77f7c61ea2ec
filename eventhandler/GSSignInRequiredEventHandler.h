// The service's sign-in-required event: signs the platform user of the session in to the service
// (creating the service user when needed, "adult_temp" when the platform cannot name one), and
// after a product upgrade migrates the service's users into platform accounts once instead.
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <atomic>
#include <string>

#include "KyGSEvents.h"
#include "KyGSService.h"
#include "ZELEventHandlerModule.h"

class CGSSignInRequiredEventHandler : public CEventHandlerObject<IKyGSSignInRequiredEvent> {
 public:
  STDMETHODIMP OnSignInRequiredEvent(unsigned long sessionId) override;

  // The wait between two questions for a platform user that is not logged on yet; tests shorten it.
  static void SetPlatformUserWait(DWORD milliseconds) { platformUserWaitMs_ = milliseconds; }
  // How the upgrade marker's key is deleted (RegDeleteKeyW). Wine does not enforce a key's access
  // list, so tests refuse the deletion here.
  using KeyDeletion = LSTATUS(APIENTRY*)(HKEY parent, LPCWSTR subkey);
  static void SetMarkerDeletion(KeyDeletion deletion) { markerDeletion_ = deletion; }

  static bool getTarnUser(unsigned long sessionId, VARIANT* name, int attempt);
  // Signs `name` in through `service`; an RPC failure is handed back as it is, for the caller to
  // reconnect and try once more.
  static HRESULT signIntoZel(IKyGSService* service, unsigned long sessionId, const wchar_t* name);
  // Consumes the upgrade marker: true only for the one call whose deletion of the marker succeeded
  // while it said "migrate".
  static bool isUpgradeNeeded();
  static bool getStartupUserId(std::wstring* startupUser);
  static HRESULT AddZELUsersToTARN(IKyGSService* service);

 private:
  HRESULT handleEvent(unsigned long sessionId);

  static std::atomic<DWORD> platformUserWaitMs_;
  static std::atomic<KeyDeletion> markerDeletion_;
};
