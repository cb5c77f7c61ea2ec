#include "TarnUserHelper.h"

#include <oleauto.h>

#include <algorithm>
#include <cwchar>
#include <memory>

#include "CreateInstanceViaFactory.h"
#include "Handles.h"
#include "KyUtilBinding.h"
#include "LogInstance.h"
#include "OSInfoProxy.h"
#include "ProductSettings.h"
#include "TarnLogHelper.h"
#include "TokenSession.h"

using ETWLogging::kLevelError;
using ETWLogging::kLevelNormal;
using ETWLogging::kLevelWarning;
using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kSource[] = L"ZelTARNHelper";
constexpr wchar_t kGetUserFunction[] = L"CTarnUserHelper::GetCurrentlyLoggedOnUser";
constexpr int kServiceReportUserManager = 22;
constexpr DWORD kTerminalServicesSession = 0x10000;

struct TaskTextFree {
  void operator()(wchar_t* text) const { ::CoTaskMemFree(text); }
};
using UniqueTaskText = std::unique_ptr<wchar_t, TaskTextFree>;

// Session 0 of Windows 6.0 and 6.1 holds services only, never a signed-on user.
bool IsServicesOnlySession(DWORD sessionId) {
  if (sessionId != 0) return false;
  Strata::internal::OSInfoProxy os;
  return os.MajorVersion() == 6 && (os.MinorVersion() == 0 || os.MinorVersion() == 1);
}

// The platform answers "file not found" for a session without a user on Windows 8 and later
// while that user is still logging on.
bool PlatformSaysNotLoggedOnYet() {
  KyUtilBinding utility;
  if (!utility.Load()) return false;
  KyGetOSVersion2Fn* getVersion = utility.GetOSVersion2();
  int version = 0;
  return getVersion && getVersion(&version) == 0 && version == KyOSGeneration_Windows8Up;
}

void LogNotLoggedOnYet(DWORD sessionId) {
  ZEL_LOG(kLevelWarning, kSource, kGetUserFunction,
          L"Calling spUserManager->GetLoggedOnUser( %d ) failed because user is not logged on yet\r\n", sessionId);
}

}  // namespace

DWORD getSessionId() {
  const Strata::TokenSession found = Strata::SessionOfProcessToken(::GetCurrentProcess(), kSource, L"getSessionId");
  return found.failure == Strata::TokenSession::Failure::None ? found.session : 0xFFFFFFFF;
}

HRESULT CTarnUserHelper::acquireUserManager(ComPtr<IKyUserManager>* manager) {
  constexpr wchar_t kFunction[] = L"CTarnUserHelper::acquireUserManager";
  manager->Reset();
  if (lastCreationResult_.load() == CO_E_SERVER_STOPPING) {
    ZEL_LOG(kLevelWarning, kSource, kFunction, L"Refusing to acquire UserManager [0x%08X]\r\n", CO_E_SERVER_STOPPING);
    return CO_E_SERVER_STOPPING;
  }
  ZEL_LOG(kLevelNormal, kSource, kFunction, L"Acquiring User Manager...\r\n");
  HRESULT hr = Ky::CreateInstanceViaFactory(CLSID_KyUserManager, Ky::kAnyClassContext, IID_IKyUserManager,
                                            reinterpret_cast<void**>(manager->ReleaseAndGetAddressOf()));
  if (SUCCEEDED(hr) && !*manager) hr = E_FAIL;
  lastCreationResult_.store(hr);
  if (FAILED(hr)) {
    ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to create User Manager [0x%08X]\r\n", hr);
    ProductSettings::ReportToService(kServiceReportUserManager, 0, hr);
    return hr;
  }
  KeepLibraryOf(manager->Get());
  return hr;
}

// The library is found from the object's own code, which is the platform's library in process and
// the system's proxy code for a manager served from another process.
void CTarnUserHelper::KeepLibraryOf(IKyUserManager* manager) {
  std::lock_guard<Strata::SlimLock> guard(libraryLock_);
  if (!userManagerLibrary_) userManagerLibrary_ = Strata::PinLibraryAt(*reinterpret_cast<void* const*>(manager));
}

bool CTarnUserHelper::GetCurrentlyLoggedOnUser(DWORD sessionId, wchar_t* name, size_t capacity, long* kind,
                                               long* startup, bool* loggedOn) {
  if (loggedOn) *loggedOn = true;
  ZEL_LOG(kLevelNormal, kSource, kGetUserFunction, L"CTarnUserHelper::GetCurrentlyLoggedOnUser( %d )\r\n", sessionId);
  if (IsServicesOnlySession(sessionId)) return false;

  ComPtr<IKyUserManager> manager;
  if (FAILED(acquireUserManager(&manager))) return false;
  ComPtr<IKyUser> user;
  LONG result = 0;
  HRESULT hr = manager->GetLoggedOnUser(sessionId, &user, &result);
  switch (Ky::ResultError(result)) {
    case ERROR_SUCCESS:
      break;
    case ERROR_FILE_NOT_FOUND:
      if (PlatformSaysNotLoggedOnYet()) {
        LogNotLoggedOnYet(sessionId);
        if (loggedOn) *loggedOn = false;
      }
      return false;
    case ERROR_NO_TOKEN:
      if (sessionId == kTerminalServicesSession) {
        ZEL_LOG(kLevelWarning, kSource, kGetUserFunction, L"No token found in Terminal Services session %d\r\n",
                sessionId);
      }
      return false;
    case ERROR_NOT_LOGGED_ON:
      LogNotLoggedOnYet(sessionId);
      if (loggedOn) *loggedOn = false;
      return false;
    default:
      ZEL_LOG(kLevelError, kSource, kGetUserFunction,
              L"Calling spUserManager->GetLoggedOnUser( %d ) failed with result %08x\r\n", sessionId, result);
      return false;
  }
  if (FAILED(hr) || !user) {
    ZEL_LOG(kLevelError, kSource, kGetUserFunction,
            L"GetCurrentlyLoggedOnUser - Failed to get logged on user for session %d.  hr=%08x lResult=%08x", sessionId,
            hr, result);
    return false;
  }

  wchar_t* rawName = nullptr;
  hr = user->GetLogonName(&rawName, &result);
  UniqueTaskText logonName(rawName);
  if (FAILED(hr) || Ky::ResultError(result) != 0 || !logonName) {
    ZEL_LOG(kLevelError, kSource, kGetUserFunction,
            L"GetCurrentlyLoggedOnUser - Failed to get user name for user in session %d.  hr=%08x lResult=%08x",
            sessionId, hr, result);
    return false;
  }
  ZEL_LOG(kLevelNormal, kSource, kGetUserFunction, L"GetCurrentlyLoggedOnUser - Session %d - User \"%s\"", sessionId,
          logonName.get());
  if (kind) *kind = kAdministratorKind;
  if (startup) {
    LONG ignored = 0;
    user->IsStartupUser(startup, &ignored);
  }
  if (capacity == 0) return true;
  const size_t copied = std::min(std::wcslen(logonName.get()), capacity - 1);
  std::wmemcpy(name, logonName.get(), copied);
  name[copied] = L'\0';
  return true;
}

bool CTarnUserHelper::GetCurrentlyLoggedOnUser(wchar_t* name, size_t capacity, long* kind, long* startup,
                                               bool* loggedOn) {
  return GetCurrentlyLoggedOnUser(getSessionId(), name, capacity, kind, startup, loggedOn);
}

HRESULT CTarnUserHelper::GetLoggedOnUserVariants(DWORD sessionId, VARIANT* name, VARIANT* kind, VARIANT* startup,
                                                 bool* loggedOn) {
  HRESULT hr = ::VariantClear(name);
  if (SUCCEEDED(hr)) hr = ::VariantClear(kind);
  if (FAILED(hr)) return hr;
  wchar_t userName[kUserNameCapacity] = {};
  long userKind = 0;
  long startupFlag = 0;
  if (!GetCurrentlyLoggedOnUser(sessionId, userName, kUserNameCapacity, &userKind, &startupFlag, loggedOn))
    return S_FALSE;
  BSTR copy = ::SysAllocString(userName);
  if (!copy) {
    V_VT(name) = VT_ERROR;
    V_ERROR(name) = E_OUTOFMEMORY;
    return E_OUTOFMEMORY;
  }
  V_VT(name) = VT_BSTR;
  V_BSTR(name) = copy;
  V_VT(kind) = VT_I4;
  V_I4(kind) = userKind;
  hr = ::VariantClear(startup);
  if (FAILED(hr)) return hr;
  V_VT(startup) = VT_I4;
  V_I4(startup) = startupFlag;
  return S_OK;
}

bool CTarnUserHelper::IsSessionCurrentUserAdmin(DWORD sessionId) {
  ZEL_LOG(kLevelNormal, kSource, L"CTarnUserHelper::IsSessionCurrentUserAdmin",
          L"CTarnUserHelper::IsCurrentUserAdmin(%d)\r\n", sessionId);
  ComPtr<IKyUserManager> manager;
  if (FAILED(acquireUserManager(&manager))) return false;
  ComPtr<IKyUser> user;
  LONG result = 0;
  HRESULT hr = manager->GetLoggedOnUser(sessionId, &user, &result);
  return SUCCEEDED(hr) && user;
}
