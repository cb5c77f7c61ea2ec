// The platform's user events: keeps the service's users and its signed-on user in step with the
// platform's. Creating a service user is shared with the sign-in-required handler.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <mutex>
#include <string>

#include "KyGSService.h"
#include "KyUserManager.h"
#include "SlimLock.h"
#include "ZELEventHandlerModule.h"

// The platform user of this session, as the bridge's configuration object names it.
struct TarnUser {
  std::wstring name;
  long kind = 0;
  short isStartupUser = 0;
};

class CUserEvents : public CEventHandlerObject<IKyUserEvents, IKyUserSettings> {
 public:
  // IKyUserEvents: 1 logon, 2 new user, 3 user deleted, 4 user edited; S_FALSE for another id.
  STDMETHODIMP NotifyEvent(DWORD eventId, LPCWSTR info) override;
  // IKyUserSettings: forwarded to the bridge library's user helper.
  STDMETHODIMP GetSettings(ULONG_PTR first, ULONG_PTR second, ULONG_PTR third) override;

  // The functions on the service below take the connection to use and hand back an RPC failure as
  // it is, so that their caller can reconnect and try again (CallGadrelService).

  // Creates the service user `name` unless it exists; "adult_temp" is never created (S_FALSE).
  static HRESULT createZelUser(IKyGSService* service, const wchar_t* name, DWORD sessionId);
  static HRESULT getZelUsersCollection(IKyGSService* service,
                                       Microsoft::WRL::ComPtr<IKyGSConfigCollection>* collection);
  // S_OK with the user of that exact name, S_FALSE when there is none; users whose name cannot be
  // read are passed over.
  static HRESULT getZelUser(IKyGSConfigCollection* collection, const wchar_t* name,
                            Microsoft::WRL::ComPtr<IKyConfig>* user);
  static bool getCurrentTarnUserNameAndType(TarnUser* user);
  // The session of the calling process's token; *sessionId is written only on success.
  static HRESULT getSessionId(DWORD* sessionId);

 private:
  HRESULT dispatchEvent(DWORD eventId, const wchar_t* info);
  template <typename Handle>
  HRESULT withService(Handle handle);
  HRESULT notifyLogon(IKyGSService* service, const wchar_t* name);
  HRESULT logCurrentTarnUserIntoZel(IKyGSService* service);
  HRESULT notifyNewUser(IKyGSService* service, const wchar_t* name);
  HRESULT notifyDeleteUser(IKyGSService* service, const wchar_t* name);
  HRESULT notifyEditUser(IKyGSService* service, const wchar_t* name);
  HRESULT settingsHelper(Microsoft::WRL::ComPtr<IKyUserSettings>* settings);

  // Guards settings_; a call is forwarded through a reference of its own, outside the lock.
  Strata::SlimLock settingsLock_;
  Microsoft::WRL::ComPtr<IKyUserSettings> settings_;
};
