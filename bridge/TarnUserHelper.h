// Which platform user is signed on to a Windows session, asked of the platform's user manager
// afresh on every call. One helper belongs to one COM object and is never shared; that object may
// be called from several threads at once.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>

#include <wrl/client.h>

#include "Handles.h"
#include "KyUserManager.h"
#include "SlimLock.h"

// The session of the calling process; 0xFFFFFFFF when it cannot be read.
DWORD getSessionId();

class CTarnUserHelper {
 public:
  // The platform user kind of every user object: administrator.
  static constexpr long kAdministratorKind = 1;
  static constexpr size_t kUserNameCapacity = 256;

  CTarnUserHelper() = default;
  CTarnUserHelper(const CTarnUserHelper&) = delete;
  CTarnUserHelper& operator=(const CTarnUserHelper&) = delete;

  // Creates the platform user manager. Once the platform has answered CO_E_SERVER_STOPPING, that
  // answer is final for this helper and nothing is created any more.
  HRESULT acquireUserManager(Microsoft::WRL::ComPtr<IKyUserManager>* manager);

  // The name of the session's platform user, truncated to `capacity` - 1 characters, with its kind
  // and startup flag when asked for. *loggedOn (when given) is cleared only when the platform says
  // the session's user has not logged on yet. False when no name was obtained.
  bool GetCurrentlyLoggedOnUser(DWORD sessionId, wchar_t* name, size_t capacity, long* kind, long* startup,
                                bool* loggedOn);
  // The same for the calling process's session.
  bool GetCurrentlyLoggedOnUser(wchar_t* name, size_t capacity, long* kind, long* startup, bool* loggedOn);

  // The same as VARIANTs: the name (VT_BSTR), kind and startup flag (VT_I4). S_OK with the three
  // filled, S_FALSE with the name and kind cleared when no user was found, or the failure of a
  // VARIANT operation (E_OUTOFMEMORY leaves the name as VT_ERROR holding it).
  HRESULT GetLoggedOnUserVariants(DWORD sessionId, VARIANT* name, VARIANT* kind, VARIANT* startup, bool* loggedOn);

  // Whether the platform has a user object for the session (whose kind is then administrator).
  bool IsSessionCurrentUserAdmin(DWORD sessionId);

  HRESULT LastCreationResult() const { return lastCreationResult_.load(); }

 private:
  void KeepLibraryOf(IKyUserManager* manager);

  // Written by every creation attempt; any value one thread writes is a valid creation result.
  std::atomic<HRESULT> lastCreationResult_{OLE_E_NOTRUNNING};

  // The user manager's library, held from the first manager on for as long as the helper lives.
  // Between two questions no manager is alive, so COM may unload that library whenever unused
  // libraries are freed, and a service that frees them while a logging thread still builds records
  // would unload it again and again under a thread that is just finding or releasing a manager.
  // Guarded by libraryLock_.
  Strata::SlimLock libraryLock_;
  Strata::UniqueModule userManagerLibrary_;
};
