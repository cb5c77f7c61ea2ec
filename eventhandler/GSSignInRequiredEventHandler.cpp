#include "GSSignInRequiredEventHandler.h"

#include <wrl/client.h>

#include <mutex>

#include "CallResult.h"
#include "ComGuard.h"
#include "CreateInstanceViaFactory.h"
#include "Handles.h"
#include "KyUserManager.h"
#include "LogInstance.h"
#include "ServiceCalls.h"
#include "UserEvents.h"
#include "VariantValue.h"
#include "ZELEventHandlerModule.h"
#include "ZelTARN.h"
#include "SlimLock.h"

using ETWLogging::kLevelError;
using ETWLogging::kLevelNormal;
using ETWLogging::kLevelWarning;
using Microsoft::WRL::ComPtr;
using namespace ServiceCalls;

std::atomic<DWORD> CGSSignInRequiredEventHandler::platformUserWaitMs_{3000};
std::atomic<CGSSignInRequiredEventHandler::KeyDeletion> CGSSignInRequiredEventHandler::markerDeletion_{&::RegDeleteKeyW};

namespace {

constexpr wchar_t kSource[] = L"GSSignInRequiredEventHandler";
constexpr int kLastAttempt = 40;
constexpr int kSecondsPerWait = 3;
constexpr long kMigratedLoginUserMode = 2;
constexpr long kMigratedAccountMode = 2;
constexpr wchar_t kUpgradeCompletedEvent[] = L"Global\\Zel8UpgradeCompleted";
constexpr wchar_t kVarantKey[] = L"Software\\Varant";
constexpr wchar_t kUpgradeKey[] = L"Software\\Varant\\temp";
constexpr wchar_t kProductKey[] = L"Software\\Varant\\ZEL";
constexpr DWORD kInvalidData = 13;

bool IsNamed(HRESULT hr, long result, const VARIANT& name) {
  return Succeeded(hr, result) && V_VT(&name) == VT_BSTR && V_BSTR(&name);
}

// The last field of the failure lines: -1 when the answer was no name at all, else whether the
// name was unreadable (a non-null BSTR always is readable).
int UnreadableField(HRESULT hr, long result, const VARIANT& name) {
  if (!Succeeded(hr, result) || V_VT(&name) != VT_BSTR) return -1;
  return V_BSTR(&name) ? 0 : 1;
}

HRESULT AskPlatformUser(IZelConfig* config, unsigned long sessionId, VARIANT* name, long* result) {
  ::VariantClear(name);
  *result = -1;
  return config->GetSessionCurrentTarnUserNameAndType(sessionId, name, result);
}

void NoteAttempts(int attempt) {
  if (attempt > 1) {
    ZEL_LOG(kLevelWarning, kSource, L"CGSSignInRequiredEventHandler::getTarnUser",
            L"Took %d attempts (%d seconds) to get Tarn user\r\n", attempt, (attempt - 1) * kSecondsPerWait);
  }
}

// The account manager's answer is a failure when its HRESULT or its result code's error part says so.
HRESULT MigrationStep(const wchar_t* failure, HRESULT hr, long result) {
  if (Succeeded(hr, result)) return S_OK;
  ZEL_LOG(kLevelError, kSource, L"CGSSignInRequiredEventHandler::AddZELUsersToTARN", failure, hr, result);
  return FAILED(hr) ? hr : E_FAIL;
}

// The administrator is set up from the first service user's slot; every secret is empty.
HRESULT SetUpAdministrator(IKyUserAccountManager* accounts, const std::wstring* startupUser) {
  long result = -1;
  HRESULT hr = accounts->SetAdministratorInfo(nullptr, nullptr, nullptr, &result);
  hr = MigrationStep(L"AddZELUsersToTARN - Administrator info could not be set [Error 0x%08X] lResult =%08x", hr,
                     result);
  if (FAILED(hr)) return hr;
  Strata::UniqueBstr administrator;
  result = -1;
  hr = accounts->GetAdministratorName(administrator.put(), &result);
  hr = MigrationStep(L"AddZELUsersToTARN - Administrator info could not be retrieved [Error 0x%08X] lResult =%08x", hr,
                     result);
  if (FAILED(hr)) return hr;
  result = -1;
  hr = accounts->SetLoginUserMode(kMigratedLoginUserMode, &result);
  hr = MigrationStep(L"AddZELUsersToTARN - Failed to Set Login User Mode Setting [Error 0x%08X] lResult =%08x", hr,
                     result);
  if (FAILED(hr)) return hr;
  if (startupUser && SameNameIgnoringCase(startupUser->c_str(), administrator.get())) {
    // The manager may hand back another string in place of ours; whichever it is, it is ours to free.
    BSTR name = ::SysAllocString(administrator.get());
    if (!name) return E_OUTOFMEMORY;
    result = -1;
    HRESULT set = accounts->SetStartupUser(&name, &result);
    Strata::UniqueBstr returned(name);
    if (!Succeeded(set, result)) {
      ZEL_LOG(kLevelWarning, kSource, L"CGSSignInRequiredEventHandler::AddZELUsersToTARN",
              L"Failed to set the startup user [Result 0x%08X]\r\n", result);
    }
  }
  result = -1;
  hr = accounts->LogIn(administrator.get() ? administrator.get() : L"", L"", &result);
  hr = MigrationStep(L"AddZELUsersToTARN - Administrator could not be logged in [Error 0x%08X] lResult =%08x", hr,
                     result);
  if (FAILED(hr)) return hr;
  result = -1;
  const HRESULT answered = accounts->SetPassword(administrator.get() ? administrator.get() : L"", nullptr, 0, &result);
  return MigrationStep(L"AddZELUsersToTARN - Administrator password could not be set [Error 0x%08X] lResult =%08x",
                       answered, result);
}

// One platform account per service user; a user whose name cannot be read is passed over.
HRESULT MigrateUsers(IEnumVARIANT* items, IKyUserAccountManager* accounts, const std::wstring* startupUser) {
  BoundedEnumeration users(items, kSource, L"CGSSignInRequiredEventHandler::AddZELUsersToTARN");
  for (;;) {
    CVariantValue item;
    const HRESULT next = users.Next(&item);
    if (next != S_OK) return FAILED(next) ? next : S_OK;
    ComPtr<IKyConfig> user;
    CVariantValue name;
    long result = -1;
    HRESULT hr = E_NOINTERFACE;
    const VARIANT& held = item.Get();
    IUnknown* object = (V_VT(&held) == VT_DISPATCH || V_VT(&held) == VT_UNKNOWN) ? V_UNKNOWN(&held) : nullptr;
    if (object && SUCCEEDED(hr = object->QueryInterface(IID_PPV_ARGS(&user)))) {
      hr = user->GetValue(kUserName, name.Put(), &result);
    }
    if (!Succeeded(hr, result) || V_VT(&name.Get()) != VT_BSTR || !V_BSTR(&name.Get())) {
      ZEL_LOG(kLevelError, kSource, L"CGSSignInRequiredEventHandler::AddZELUsersToTARN",
              L"AddZELUsersToTARN - Failed to get the user name [Error 0x%08X] lResult =%08x", hr, result);
      continue;
    }
    const wchar_t* userName = V_BSTR(&name.Get());
    KYUSER_ACCOUNT_INFO info{const_cast<wchar_t*>(userName),
                             startupUser && SameNameIgnoringCase(startupUser->c_str(), userName) ? 1 : 0,
                             kMigratedAccountMode};
    result = -1;
    hr = accounts->CreateUser(&info, &result);
    hr = MigrationStep(L"AddZELUsersToTARN - User could not be created [Error 0x%08X] lResult =%08x", hr, result);
    if (FAILED(hr)) return hr;
    result = -1;
    hr = accounts->SetPassword(userName, nullptr, 0, &result);
    hr = MigrationStep(L"AddZELUsersToTARN - User password could not be set [Error 0x%08X] lResult =%08x", hr, result);
    if (FAILED(hr)) return hr;
  }
}

}  // namespace

STDMETHODIMP CGSSignInRequiredEventHandler::OnSignInRequiredEvent(unsigned long sessionId) {
  return GuardHResult([&] { return handleEvent(sessionId); });
}

HRESULT CGSSignInRequiredEventHandler::handleEvent(unsigned long sessionId) {
  constexpr wchar_t kFunction[] = L"CGSSignInRequiredEventHandler::OnSignInRequiredEvent";
  ZEL_LOG(kLevelNormal, kSource, kFunction, L"ZEL Event: OnSignInRequiredEvent( %d )\r\n", sessionId);
  LARGE_INTEGER start{};
  LARGE_INTEGER frequency{};
  ::QueryPerformanceCounter(&start);
  ::QueryPerformanceFrequency(&frequency);

  CVariantValue name;
  const wchar_t* user = getTarnUser(sessionId, name.Put(), 1) ? V_BSTR(&name.Get()) : kTemporaryUser;
  bool reacquired = false;
  HRESULT hr = g_module.CallGadrelService(
      [&](IKyGSService* service) { return signIntoZel(service, sessionId, user); },
      [&](HRESULT) {
        reacquired = true;
        ZEL_LOG(kLevelNormal, kSource, kFunction, L"Attempting to release and reacquire Zel...\r\n");
      });
  if (FAILED(hr)) {
    if (reacquired) {
      ZEL_LOG(kLevelError, kSource, kFunction,
              L"Failed to sign into ZEL after release and reacquire [Error 0x%08X]\r\n", hr);
    }
    return hr;
  }
  if (reacquired) ZEL_LOG(kLevelNormal, kSource, kFunction, L"Refetch and reacquire succeeded.\r\n");
  LARGE_INTEGER end{};
  ::QueryPerformanceCounter(&end);
  // Milliseconds from the ticks, without dividing the frequency first: a frequency below 1000 would
  // leave nothing to divide by.
  const LONGLONG milliseconds =
      frequency.QuadPart > 0 ? (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart : 0;
  ZEL_LOG(kLevelNormal, kSource, kFunction, L"%s took %0.3f seconds\r\n", L"Handling SignInRequired",
          static_cast<double>(static_cast<float>(milliseconds) * 0.001f));
  return S_OK;
}

bool CGSSignInRequiredEventHandler::getTarnUser(unsigned long sessionId, VARIANT* name, int attempt) {
  constexpr wchar_t kFunction[] = L"CGSSignInRequiredEventHandler::getTarnUser";
  for (;; ++attempt) {
    if (attempt > kLastAttempt) return false;
    ComPtr<IZelConfig> config = g_module.GetZelTarn();
    if (!config) return false;
    long result = -1;
    HRESULT hr = AskPlatformUser(config.Get(), sessionId, name, &result);
    if (IsNamed(hr, result, *name)) {
      NoteAttempts(attempt);
      return true;
    }
    if (hr == E_PENDING) {
      // The platform user is not logged on yet.
      ::Sleep(platformUserWaitMs_.load());
      continue;
    }
    ZEL_LOG(kLevelWarning, kSource, kFunction,
            L"Failed to get current TARN user in Session %d [Error 0x%08X][Result 0x%08X] [vUserName.vt %08x] "
            L"[IsBadReadPtr(vUserName.bstrVal) %d]\r\n",
            sessionId, hr, result, V_VT(name), UnreadableField(hr, result, *name));
    if (!IsRpcFailure(hr)) return false;
    ZEL_LOG(kLevelNormal, kSource, kFunction, L"Attempting to release and reacquire ZelTARN...\r\n");
    config.Reset();
    g_module.ReleaseZelTarn();
    config = g_module.GetZelTarn();
    if (!config) return false;
    hr = AskPlatformUser(config.Get(), sessionId, name, &result);
    if (!IsNamed(hr, result, *name)) {
      ZEL_LOG(kLevelError, kSource, kFunction,
              L"Failed to get current TARN user after release and reacquire [Error 0x%08X][Result 0x%08X] "
              L"[vUserName.vt %08x] [IsBadReadPtr(vUserName.bstrVal) %d]\r\n",
              hr, result, V_VT(name), UnreadableField(hr, result, *name));
      return false;
    }
    ZEL_LOG(kLevelNormal, kSource, kFunction, L"Refetch and reacquire succeeded.\r\n");
    NoteAttempts(attempt);
    return true;
  }
}

HRESULT CGSSignInRequiredEventHandler::signIntoZel(IKyGSService* service, unsigned long sessionId,
                                                   const wchar_t* name) {
  constexpr wchar_t kFunction[] = L"CGSSignInRequiredEventHandler::signIntoZel";
  if (!service) {
    ZEL_LOG(kLevelError, kSource, kFunction, L"No connection to the ZEL service to sign \"%s\" in\r\n", name);
    return E_UNEXPECTED;
  }
  if (isUpgradeNeeded()) {
    Strata::UniqueHandle completed(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kUpgradeCompletedEvent));
    AddZELUsersToTARN(service);
    if (completed) ::SetEvent(completed.get());
    return S_OK;
  }
  Answer answer = SignIn(service, sessionId, name);
  if (answer.Succeeded()) {
    ZEL_LOG(kLevelNormal, kSource, kFunction, L"Signed in successfully as user \"%s\"\r\n", name);
    return S_OK;
  }
  const DWORD level = (SUCCEEDED(answer.hr) && answer.result == kNoSuchUser) ? kLevelNormal : kLevelError;
  ZEL_LOG(level, kSource, kFunction, L"Failed to sign into ZEL as user \"%s\" [Error 0x%08X][Result 0x%08X]\r\n", name,
          answer.hr, answer.result);
  if (IsRpcFailure(answer.hr)) return answer.hr;
  const HRESULT created = CUserEvents::createZelUser(service, name, sessionId);
  if (IsRpcFailure(created)) return created;
  if (FAILED(created)) {
    ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to create user... so we can't log in.\r\n");
    return E_FAIL;
  }
  answer = SignIn(service, sessionId, name);
  if (answer.Succeeded()) return S_OK;
  if (IsRpcFailure(answer.hr)) return answer.hr;
  ZEL_LOG(kLevelError, kSource, kFunction,
          L"Failed to sign into ZEL as user \"%s\" (2nd attempt) [Error 0x%08X][Result 0x%08X]\r\n", name, answer.hr,
          answer.result);
  return E_FAIL;
}

bool CGSSignInRequiredEventHandler::isUpgradeNeeded() {
  constexpr wchar_t kFunction[] = L"CGSSignInRequiredEventHandler::isUpgradeNeeded";
  // The service raises events for several sessions at once in its own process: reading and
  // consuming the marker is one step among them. Only registry calls run under this lock.
  static Strata::SlimLock markerLock;
  std::lock_guard<Strata::SlimLock> guard(markerLock);
  Strata::UniqueHkey marker;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUpgradeKey, 0, KEY_READ, marker.put()) != ERROR_SUCCESS) return false;
  ZEL_LOG(kLevelNormal, kSource, kFunction, L"Found HKLM\\Software\\Varant\\temp");
  DWORD type = 0;
  DWORD value = 0;
  DWORD bytes = sizeof(value);
  const bool migrate = ::RegQueryValueExW(marker.get(), L"UpgradeUsers", nullptr, &type,
                                          reinterpret_cast<BYTE*>(&value), &bytes) == ERROR_SUCCESS &&
                       type == REG_DWORD && value == 1;
  marker.reset();
  // Only the call whose deletion removed the marker may act on it: two events that both read it
  // would otherwise both migrate, and a marker that cannot be deleted would migrate on every event.
  Strata::UniqueHkey varant;
  LSTATUS deleted = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVarantKey, 0, KEY_READ | KEY_WRITE, varant.put());
  if (deleted == ERROR_SUCCESS) {
    ZEL_LOG(kLevelNormal, kSource, kFunction,
            L"Opened Reg Key successfully = HKEY_LOCAL_MACHINE\\Software\\Varant - now delete key temp \r\n");
    // The contents go first; deleting the key itself then succeeds for one caller only.
    Strata::UniqueHkey contents;
    if (::RegOpenKeyExW(varant.get(), L"temp", 0, KEY_ALL_ACCESS, contents.put()) == ERROR_SUCCESS)
      ::RegDeleteTreeW(contents.get(), nullptr);
    deleted = markerDeletion_.load()(varant.get(), L"temp");
  }
  // Another event that consumed the marker first leaves nothing to delete, and migrates itself.
  if (migrate && deleted != ERROR_SUCCESS && deleted != ERROR_FILE_NOT_FOUND) {
    ZEL_LOG(kLevelError, kSource, kFunction,
            L"Failed to delete HKEY_LOCAL_MACHINE\\Software\\Varant\\temp (Err %d): the users are not migrated\r\n",
            deleted);
  }
  const bool upgrade = migrate && deleted == ERROR_SUCCESS;
  ZEL_LOG(kLevelNormal, kSource, kFunction, L"bIsUpgradeNeeded = %d", upgrade ? 1 : 0);
  return upgrade;
}

bool CGSSignInRequiredEventHandler::getStartupUserId(std::wstring* startupUser) {
  startupUser->clear();
  Strata::UniqueHkey key;
  // Opened for the delete that follows a successful read.
  LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put());
  wchar_t text[32] = L"";
  DWORD type = 0;
  DWORD bytes = sizeof(text);
  if (status == ERROR_SUCCESS)
    status = ::RegQueryValueExW(key.get(), L"StartUp", nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes);
  const DWORD chars = bytes / sizeof(wchar_t);
  if (status == ERROR_SUCCESS && ((type != REG_SZ && type != REG_EXPAND_SZ) || bytes % sizeof(wchar_t) != 0 ||
                                  (chars > 0 && text[chars - 1] != L'\0')))
    status = kInvalidData;
  if (status == ERROR_SUCCESS) status = ::RegDeleteValueW(key.get(), L"StartUp");
  if (status != ERROR_SUCCESS) {
    ZEL_LOG(kLevelWarning, kSource, L"CGSSignInRequiredEventHandler::getStartupUserId",
            L"Failed to read startup user from registry (Err %d)\r\n", status);
    return false;
  }
  startupUser->assign(text, chars > 0 ? chars - 1 : 0);
  return true;
}

HRESULT CGSSignInRequiredEventHandler::AddZELUsersToTARN(IKyGSService* service) {
  constexpr wchar_t kFunction[] = L"CGSSignInRequiredEventHandler::AddZELUsersToTARN";
  ZEL_LOG(kLevelNormal, kSource, kFunction, L"AddZELUsersToTARN\r\n");
  ComPtr<IKyUserAccountManager> accounts;
  HRESULT hr = Ky::CreateInstanceViaFactory(CLSID_KyUserManager, Ky::kAnyClassContext, IID_IKyUserAccountManager, &accounts,
                                            Ky::CreationForm::Checked);
  if (FAILED(hr)) {
    ZEL_LOG(kLevelError, kSource, kFunction,
            L"AddZELUsersToTARN - Failed to create UserAccountManager object [Error 0x%08X]", hr);
    return hr;
  }
  std::wstring startupUser;
  const bool haveStartupUser = getStartupUserId(&startupUser);
  const std::wstring* startup = haveStartupUser ? &startupUser : nullptr;

  CVariantValue users;
  long result = -1;
  hr = service->GetValue(kUsersCollection, users.Put(), &result);
  hr = MigrationStep(L"AddZELUsersToTARN - Failed to get the ZEL user list [Error 0x%08X] lResult =%08x", hr, result);
  if (FAILED(hr)) return hr;
  const VARIANT& held = users.Get();
  IUnknown* object = (V_VT(&held) == VT_DISPATCH || V_VT(&held) == VT_UNKNOWN) ? V_UNKNOWN(&held) : nullptr;
  ComPtr<IKyGSConfigCollection> collection;
  ComPtr<IUnknown> enumerator;
  ComPtr<IEnumVARIANT> items;
  if (!object || FAILED(hr = object->QueryInterface(IID_PPV_ARGS(&collection))) ||
      FAILED(hr = collection->GetEnumerator(&enumerator)) || !enumerator || FAILED(hr = enumerator.As(&items)))
    return FAILED(hr) ? hr : E_FAIL;

  CVariantValue first;
  ULONG fetched = 0;
  if (items->Next(1, first.Put(), &fetched) == S_OK && fetched == 1) {
    hr = SetUpAdministrator(accounts.Get(), startup);
    if (FAILED(hr)) return hr;
    items->Reset();
  }
  return MigrateUsers(items.Get(), accounts.Get(), startup);
}
