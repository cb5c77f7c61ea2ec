#include "UserEvents.h"

#include <cwchar>
#include <optional>
#include <string_view>

#include "ComGuard.h"
#include "CreateInstanceViaFactory.h"
#include "CriticalSection.h"
#include "Handles.h"
#include "LogInstance.h"
#include "ServiceCalls.h"
#include "VariantValue.h"
#include "ZelTARN.h"
#include "SlimLock.h"
#include "TokenSession.h"
#include "ZELEventHandlerModule.h"

using ETWLogging::kLevelError;
using ETWLogging::kLevelNormal;
using ETWLogging::kLevelWarning;
using Microsoft::WRL::ComPtr;
using namespace ServiceCalls;

namespace {

constexpr wchar_t kSource[] = L"UserEvents";
constexpr wchar_t kLogonModeSwitched[] = L"Logon Mode Switched";
constexpr unsigned long kEverySession = 0xFFFFFFFE;
constexpr long kUserCreated = 1;
constexpr long kUserDeleted = 0;

// Serialises finding, creating and removing service users among this library's events, so that
// two events for one name never both create it. Held across the service's calls, which may raise a
// platform user event into this library on the same thread (from inside Apply): that event takes
// it again. Never held across a call to the bridge library or a report-log write.
Strata::CriticalSection g_serviceUsersLock;

// A service call that met an RPC failure keeps its HRESULT, so that the event is tried once more on
// a fresh connection; any other failure is the event's own.
HRESULT FailureOf(HRESULT hr) { return IsRpcFailure(hr) ? hr : E_FAIL; }

// The object a VARIANT holds, or null.
IUnknown* ObjectOf(const VARIANT& value) {
  return (V_VT(&value) == VT_DISPATCH || V_VT(&value) == VT_UNKNOWN) ? V_UNKNOWN(&value) : nullptr;
}

bool SameName(BSTR stored, const wchar_t* name) {
  return stored && std::wstring_view(stored, ::SysStringLen(stored)) == std::wstring_view(name);
}

// A number the bridge wrote in whatever form, through the system's conversion; nothing when it is no
// number.
template <VARTYPE Type>
std::optional<long> CoercedTo(const VARIANT& value) {
  CVariantValue converted;
  if (FAILED(::VariantChangeType(converted.Put(), const_cast<VARIANT*>(&value), 0, Type))) return std::nullopt;
  return Type == VT_I2 ? V_I2(&converted.Get()) : V_I4(&converted.Get());
}

// A sign-in counts only with the service's own success code.
HRESULT SignInOutcome(const Answer& answer) { return answer.SignedIn() ? S_OK : E_FAIL; }

void LogFailedSignIn(const wchar_t* function, const wchar_t* name, const Answer& answer) {
  ZEL_LOG(kLevelError, kSource, function, L"Failed to login ZEL user \"%s\" [Error 0x%08X][Result 0x%08X]\r\n", name,
          answer.hr, answer.result);
}

// Writes the name of a new user object; a user that cannot be named is not added.
HRESULT NameNewUser(IKyConfig* user, const wchar_t* name) {
  CVariantValue value;
  VARIANT* text = value.Put();
  V_VT(text) = VT_BSTR;
  V_BSTR(text) = ::SysAllocString(name);
  if (!V_BSTR(text)) return E_OUTOFMEMORY;
  long result = -1;
  HRESULT hr = user->SetValue(kUserName, value.Get(), &result);
  if (!Succeeded(hr, result)) {
    ZEL_LOG(kLevelError, kSource, L"CUserEvents::createZelUser",
            L"Failed to set the new ZEL user's name [Error 0x%08X][Result 0x%08X]\r\n", hr, result);
    return FailureOf(hr);
  }
  return S_OK;
}

// Applies the collection's pending change; when the service refuses, the line `failure` (which
// takes the HRESULT and the result code) and the failure.
HRESULT ApplyChange(IKyGSConfigCollection* collection, const wchar_t* function, const wchar_t* failure) {
  long result = -1;
  HRESULT hr = collection->Apply(&result);
  if (!Succeeded(hr, result)) {
    ZEL_LOG(kLevelError, kSource, function, failure, hr, result);
    return FailureOf(hr);
  }
  return S_OK;
}

// Creates, names, adds and applies a user object under the users lock.
HRESULT AddNewUser(IKyGSConfigCollection* collection, const wchar_t* name) {
  constexpr wchar_t kFunction[] = L"CUserEvents::createZelUser";
  CVariantValue item;
  long result = -1;
  HRESULT hr = collection->CreateItem(item.Put(), &result);
  if (!Succeeded(hr, result)) {
    ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to create new ZEL user object [Error 0x%08X][Result 0x%08X]\r\n",
            hr, result);
    return FailureOf(hr);
  }
  ComPtr<IKyConfig> user;
  IUnknown* object = ObjectOf(item.Get());
  if (!object || FAILED(object->QueryInterface(IID_PPV_ARGS(&user)))) {
    ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to get IKyConfig interface from new user\r\n");
    return E_UNEXPECTED;
  }
  hr = NameNewUser(user.Get(), name);
  if (FAILED(hr)) return hr;
  result = -1;
  hr = collection->Add(item.Get(), &result);
  if (!Succeeded(hr, result)) {
    ZEL_LOG(kLevelError, kSource, kFunction,
            L"Failed to add new user object to collection [Error 0x%08X][Result 0x%08X]\r\n", hr, result);
    return FailureOf(hr);
  }
  return ApplyChange(collection, kFunction,
                     L"Failed to apply new user object to collection [Error 0x%08X][Result 0x%08X]\r\n");
}

// Removes and applies a found user under the users lock.
HRESULT RemoveUser(IKyGSConfigCollection* collection, IKyConfig* user, const wchar_t* name) {
  constexpr wchar_t kFunction[] = L"CUserEvents::notifyDeleteUser";
  ComPtr<IDispatch> dispatch;
  HRESULT hr = user->QueryInterface(IID_PPV_ARGS(&dispatch));
  long result = -1;
  if (SUCCEEDED(hr)) {
    VARIANT item;
    V_VT(&item) = VT_DISPATCH;
    V_DISPATCH(&item) = dispatch.Get();
    hr = collection->Remove(item, &result);
  }
  if (!Succeeded(hr, result)) {
    ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to delete user \"%s\" from ZEL [Error 0x%08X][Result 0x%08X]\r\n",
            name, hr, result);
    return FailureOf(hr);
  }
  return ApplyChange(collection, kFunction,
                     L"Failed to apply user deletion to collection [Error 0x%08X][Result 0x%08X]\r\n");
}

}  // namespace

STDMETHODIMP CUserEvents::NotifyEvent(DWORD eventId, LPCWSTR info) {
  if (!info) return E_INVALIDARG;
  return GuardHResult([&] { return dispatchEvent(eventId, info); });
}

// The service's process may have gone away since the cached connection was made (a restart): an
// event that meets an RPC failure is handled once more on a fresh connection.
template <typename Handle>
HRESULT CUserEvents::withService(Handle handle) {
  return g_module.CallGadrelService(handle, [](HRESULT hr) {
    ZEL_LOG(kLevelWarning, kSource, L"CUserEvents::NotifyEvent",
            L"ZEL gave RPC error 0x%08X: releasing and reacquiring Zel\r\n", hr);
  });
}

HRESULT CUserEvents::dispatchEvent(DWORD eventId, const wchar_t* info) {
  if (eventId == 1 && std::wcscmp(info, kLogonModeSwitched) == 0)
    return withService([this](IKyGSService* service) { return logCurrentTarnUserIntoZel(service); });
  struct Handler {
    HRESULT (CUserEvents::*handle)(IKyGSService*, const wchar_t*);
    const wchar_t* failure;
  };
  static const Handler kHandlers[] = {
      {&CUserEvents::notifyLogon, L"Failed to logon TARN user \"%s\" in ZEL [Error 0x%08X]\r\n"},
      {&CUserEvents::notifyNewUser, L"Failed to create new TARN user \"%s\" in ZEL [Error 0x%08X]\r\n"},
      {&CUserEvents::notifyDeleteUser, L"Failed to delete TARN user \"%s\" from ZEL [Error 0x%08X]\r\n"},
      {&CUserEvents::notifyEditUser, L"Failed to edit TARN user \"%s\" in ZEL [Error 0x%08X]\r\n"},
  };
  if (eventId < 1 || eventId > ARRAYSIZE(kHandlers)) {
    ZEL_LOG(kLevelWarning, kSource, L"CUserEvents::NotifyEvent", L"Unrecognized user event id %d (info \"%s\")\r\n",
            eventId, info);
    return S_FALSE;
  }
  const Handler& handler = kHandlers[eventId - 1];
  HRESULT hr = withService([&](IKyGSService* service) { return (this->*handler.handle)(service, info); });
  if (FAILED(hr)) ZEL_LOG(kLevelError, kSource, L"CUserEvents::NotifyEvent", handler.failure, info, hr);
  return hr;
}

HRESULT CUserEvents::notifyLogon(IKyGSService* service, const wchar_t* name) {
  ZEL_LOG(kLevelNormal, kSource, L"CUserEvents::notifyLogon", L"TARN Event: Logon [%s]\r\n", name);
  if (!service) return E_UNEXPECTED;
  long result = -1;
  HRESULT hr = service->SignOut(kEverySession, &result);
  if (IsRpcFailure(hr)) return hr;
  if (!Succeeded(hr, result)) {
    ZEL_LOG(kLevelError, kSource, L"CUserEvents::notifyLogon",
            L"Failed to logout current ZEL user [Error 0x%08X][Result 0x%08X]\r\n", hr, result);
  }
  Answer answer = SignIn(service, kEverySession, name);
  if (answer.Succeeded()) return SignInOutcome(answer);
  if (IsRpcFailure(answer.hr)) return answer.hr;
  LogFailedSignIn(L"CUserEvents::notifyLogon", name, answer);
  // Only a user the service does not know is created and signed in once more.
  if (answer.result != kNoSuchUser) return E_FAIL;
  DWORD session = 0;
  getSessionId(&session);
  hr = createZelUser(service, name, session);
  if (FAILED(hr)) return FailureOf(hr);
  answer = SignIn(service, kEverySession, name);
  return IsRpcFailure(answer.hr) ? answer.hr : SignInOutcome(answer);
}

HRESULT CUserEvents::logCurrentTarnUserIntoZel(IKyGSService* service) {
  ZEL_LOG(kLevelNormal, kSource, L"CUserEvents::logCurrentTarnUserIntoZel", L"TARN Event: Logon Mode Switched\r\n");
  TarnUser user;
  if (!getCurrentTarnUserNameAndType(&user)) return E_FAIL;
  DWORD session = 0;
  getSessionId(&session);
  HRESULT hr = createZelUser(service, user.name.c_str(), session);
  if (FAILED(hr)) return hr;
  if (!service) return E_UNEXPECTED;
  Answer answer = SignIn(service, session, user.name.c_str());
  if (IsRpcFailure(answer.hr)) return answer.hr;
  if (!answer.Succeeded()) {
    LogFailedSignIn(L"CUserEvents::logCurrentTarnUserIntoZel", user.name.c_str(), answer);
  }
  return SignInOutcome(answer);
}

HRESULT CUserEvents::notifyNewUser(IKyGSService* service, const wchar_t* name) {
  ZEL_LOG(kLevelNormal, kSource, L"CUserEvents::notifyNewUser", L"TARN Event: New User [%s]\r\n", name);
  DWORD session = 0;
  getSessionId(&session);
  return createZelUser(service, name, session);
}

HRESULT CUserEvents::notifyEditUser(IKyGSService*, const wchar_t* name) {
  ZEL_LOG(kLevelNormal, kSource, L"CUserEvents::notifyEditUser", L"TARN Event: Edit User [%s]\r\n", name);
  return S_OK;
}

HRESULT CUserEvents::notifyDeleteUser(IKyGSService* service, const wchar_t* name) {
  ZEL_LOG(kLevelNormal, kSource, L"CUserEvents::notifyDeleteUser", L"TARN Event: Delete User [%s]\r\n", name);
  ComPtr<IKyGSConfigCollection> collection;
  HRESULT hr = getZelUsersCollection(service, &collection);
  if (FAILED(hr)) return hr;
  {
    std::lock_guard<Strata::CriticalSection> guard(g_serviceUsersLock);
    ComPtr<IKyConfig> user;
    hr = getZelUser(collection.Get(), name, &user);
    if (hr != S_OK) return hr;
    hr = RemoveUser(collection.Get(), user.Get(), name);
    if (FAILED(hr)) return hr;
  }
  TarnUser current;
  const bool known = getCurrentTarnUserNameAndType(&current);
  if (!known)
    ZEL_LOG(kLevelWarning, kSource, L"CUserEvents::notifyDeleteUser", L"Failed to get the current TARN user\r\n");
  g_module.QueueUserInfo(kUserDeleted, name, known ? current.name.c_str() : nullptr);
  return S_OK;
}

HRESULT CUserEvents::createZelUser(IKyGSService* service, const wchar_t* name, DWORD sessionId) {
  if (!name) return E_INVALIDARG;
  if (std::wcscmp(name, kTemporaryUser) == 0) return S_FALSE;
  ComPtr<IKyGSConfigCollection> collection;
  HRESULT hr = getZelUsersCollection(service, &collection);
  if (FAILED(hr)) return hr;
  {
    std::lock_guard<Strata::CriticalSection> guard(g_serviceUsersLock);
    ComPtr<IKyConfig> existing;
    hr = getZelUser(collection.Get(), name, &existing);
    if (hr == S_OK) return S_OK;
    if (FAILED(hr)) return hr;
    hr = AddNewUser(collection.Get(), name);
    if (FAILED(hr)) return hr;
  }
  ZEL_LOG(kLevelNormal, kSource, L"CUserEvents::createZelUser", L"Successfully created user \"%s\"\r\n", name);
  TarnUser current;
  if (!getCurrentTarnUserNameAndType(&current)) {
    ZEL_LOG(kLevelWarning, kSource, L"CUserEvents::createZelUser",
            L"Failed to get the current TARN user in session %d\r\n", sessionId);
  } else if (!SameNameIgnoringCase(current.name.c_str(), name)) {
    g_module.QueueUserInfo(kUserCreated, name, current.name.c_str());
  }
  return S_OK;
}

HRESULT CUserEvents::getZelUsersCollection(IKyGSService* service, ComPtr<IKyGSConfigCollection>* collection) {
  constexpr wchar_t kFunction[] = L"CUserEvents::getZelUsersCollection";
  if (!service) return E_UNEXPECTED;
  CVariantValue value;
  long result = -1;
  HRESULT hr = service->GetValue(kUsersCollection, value.Put(), &result);
  if (IsRpcFailure(hr)) return hr;
  if (!Succeeded(hr, result)) {
    ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to get the users collection [Error 0x%08X][Result 0x%08X]\r\n",
            hr, result);
    return E_UNEXPECTED;
  }
  IUnknown* object = ObjectOf(value.Get());
  hr = object ? object->QueryInterface(IID_PPV_ARGS(collection->ReleaseAndGetAddressOf())) : E_NOINTERFACE;
  if (FAILED(hr)) {
    ZEL_LOG(kLevelError, kSource, kFunction,
            L"Failed to get IKyGSConfigCollection interface from users collection\r\n");
    return IsRpcFailure(hr) ? hr : E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT CUserEvents::getZelUser(IKyGSConfigCollection* collection, const wchar_t* name, ComPtr<IKyConfig>* user) {
  constexpr wchar_t kFunction[] = L"CUserEvents::getZelUser";
  ComPtr<IUnknown> enumerator;
  HRESULT hr = collection->GetEnumerator(&enumerator);
  if (FAILED(hr) || !enumerator) {
    ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to get ZEL users enumeration [Error 0x%08X]\r\n", hr);
    return FailureOf(hr);
  }
  ComPtr<IEnumVARIANT> items;
  hr = enumerator.As(&items);
  if (FAILED(hr)) return FailureOf(hr);
  BoundedEnumeration users(items.Get(), kSource, kFunction);
  for (;;) {
    CVariantValue item;
    hr = users.Next(&item);
    if (hr != S_OK) return hr;
    ComPtr<IKyConfig> candidate;
    IUnknown* object = ObjectOf(item.Get());
    if (!object || FAILED(object->QueryInterface(IID_PPV_ARGS(&candidate)))) continue;
    CVariantValue value;
    long result = -1;
    hr = candidate->GetValue(kUserName, value.Put(), &result);
    if (IsRpcFailure(hr)) return hr;
    if (!Succeeded(hr, result) || V_VT(&value.Get()) != VT_BSTR) {
      // One unreadable user must not hide the others.
      ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to get ZEL user name [Error 0x%08X][Result 0x%08X]\r\n", hr,
              result);
      continue;
    }
    if (SameName(V_BSTR(&value.Get()), name)) {
      *user = candidate;
      return S_OK;
    }
  }
}

bool CUserEvents::getCurrentTarnUserNameAndType(TarnUser* user) {
  constexpr wchar_t kFunction[] = L"CUserEvents::getCurrentTarnUserNameAndType";
  ComPtr<IZelConfig> config = g_module.GetZelTarn();
  if (!config) {
    ZEL_LOG(kLevelError, kSource, kFunction, L"getCurrentTarnUserNameAndType Failed to create IZelConfig instance");
    return false;
  }
  CVariantValue name;
  CVariantValue kind;
  CVariantValue startup;
  long result = -1;
  HRESULT hr = config->GetCurrentTarnUserNameAndType(name.Put(), kind.Put(), startup.Put(), &result);
  if (!Succeeded(hr, result)) {
    ZEL_LOG(kLevelError, kSource, kFunction,
            L"getCurrentTarnUserNameAndType called to ZelTarnConfig failed hr = %08x lResult = %08x", hr, result);
    return false;
  }
  if (V_VT(&name.Get()) != VT_BSTR || !V_BSTR(&name.Get())) {
    ZEL_LOG(kLevelError, kSource, kFunction, L"getCurrentTarnUserNameAndType answered without a name\r\n");
    return false;
  }
  user->name.assign(V_BSTR(&name.Get()), ::SysStringLen(V_BSTR(&name.Get())));
  user->kind = CoercedTo<VT_I4>(kind.Get()).value_or(0);
  user->isStartupUser = CoercedTo<VT_I2>(startup.Get()).value_or(0);
  return true;
}

HRESULT CUserEvents::getSessionId(DWORD* sessionId) {
  const Strata::TokenSession found = Strata::SessionOfProcessToken(::GetCurrentProcess(), kSource, L"getSessionId");
  if (found.failure == Strata::TokenSession::Failure::OpenToken) return 0x8001013C;
  if (found.failure == Strata::TokenSession::Failure::ReadToken) return 0x80010126;
  *sessionId = found.session;
  return S_OK;
}

STDMETHODIMP CUserEvents::GetSettings(ULONG_PTR first, ULONG_PTR second, ULONG_PTR third) {
  return GuardHResult([&] {
    ComPtr<IKyUserSettings> settings;
    HRESULT hr = settingsHelper(&settings);
    if (FAILED(hr)) return hr;
    return settings->GetSettings(first, second, third);
  });
}

// The cached helper, created on first use outside the lock; a reference of the caller's own.
HRESULT CUserEvents::settingsHelper(ComPtr<IKyUserSettings>* settings) {
  {
    std::lock_guard<Strata::SlimLock> guard(settingsLock_);
    *settings = settings_;
  }
  if (*settings) return S_OK;
  ComPtr<IUnknown> helper;
  HRESULT hr = Ky::CreateInstanceViaFactory(CLSID_UserHelper, Ky::kAnyClassContext, IID_PPV_ARGS(&helper));
  if (FAILED(hr)) {
    ZEL_LOG(kLevelError, kSource, L"CUserEvents::GetSettings", L"Failed to create UserHelper [Error 0x%08X]", hr);
    return E_FAIL;
  }
  if (FAILED(helper.As(settings))) {
    ZEL_LOG(kLevelError, kSource, L"CUserEvents::GetSettings", L"Failed to get UserSettings interface");
    return E_NOINTERFACE;
  }
  std::lock_guard<Strata::SlimLock> guard(settingsLock_);
  settings_ = *settings;
  return S_OK;
}
