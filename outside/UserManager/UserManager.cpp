#include "UserManager.h"

#include <oleauto.h>

#include "ComGuard.h"
#include "FormatText.h"
#include "PlatformUser.h"
#include "StandInState.h"
#include "UserEnumerator.h"

namespace ZelStandIns {

UserManager::UserManager(std::wstring stateKeyPath)
    : keyPath_(std::move(stateKeyPath)), directory_(keyPath_), calls_(keyPath_) {}

HRESULT UserManager::AnswerUser(const std::optional<UserRecord>& user, IKyUser** out) const {
  if (!user) return S_OK;
  return PlatformUser::CreateInstance<PlatformUser>(IID_IKyUser, reinterpret_cast<void**>(out), *user);
}

STDMETHODIMP UserManager::GetLoggedOnUser(ULONG sessionId, IKyUser** user, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    if (!user || !result) return E_POINTER;
    *user = nullptr;
    SessionAnswer answer = directory_.LoggedOnUser(sessionId);
    *result = answer.result;
    if (FAILED(answer.hr)) return answer.hr;
    HRESULT hr = AnswerUser(answer.user, user);
    return FAILED(hr) ? hr : answer.hr;
  });
}

STDMETHODIMP UserManager::EnumUsers(IKyUserEnumerator** enumerator, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    if (!enumerator || !result) return E_POINTER;
    *enumerator = nullptr;
    *result = 0;
    std::vector<UserRecord> users;
    for (const std::wstring& name : directory_.UserNames()) {
      if (std::optional<UserRecord> user = directory_.FindUser(name)) users.push_back(std::move(*user));
    }
    return UserEnumerator::CreateInstance<UserEnumerator>(
        IID_IKyUserEnumerator, reinterpret_cast<void**>(enumerator), std::move(users));
  });
}

STDMETHODIMP UserManager::FindUser(LPCWSTR logonName, IKyUser** user, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    if (!user || !result) return E_POINTER;
    *user = nullptr;
    std::optional<UserRecord> found = directory_.FindUser(logonName ? logonName : L"");
    *result = found ? 0 : ERROR_NO_SUCH_USER;
    return AnswerUser(found, user);
  });
}

bool UserManager::Answer(const wchar_t* method, const std::wstring& arguments, LONG* result) const {
  calls_.Record(std::wstring(method) + L"(" + arguments + L")");
  if (!result) return false;
  Strata::UniqueHkey state = OpenKey(HKEY_LOCAL_MACHINE, keyPath_, true);
  const std::wstring knob = std::wstring(L"AccountResult.") + method;
  std::optional<DWORD> configured = ReadDword(state.get(), knob.c_str());
  if (!configured) configured = ReadDword(state.get(), L"AccountResult");
  // "<knob>.After" N: the method answers normally N more times before the knob holds.
  const std::wstring after = knob + L".After";
  std::optional<DWORD> normalCalls = ReadDword(state.get(), after.c_str());
  if (configured && normalCalls && *normalCalls > 0) {
    WriteDword(state.get(), after.c_str(), *normalCalls - 1);
    configured.reset();
  }
  *result = static_cast<LONG>(configured.value_or(0));
  return true;
}

void UserManager::SetStateText(const wchar_t* name, const wchar_t* text) const {
  if (Strata::UniqueHkey key = OpenKey(HKEY_LOCAL_MACHINE, keyPath_, true)) WriteText(key.get(), name, text);
}

HRESULT UserManager::StateTextAsBstr(const wchar_t* name, BSTR* out) const {
  std::optional<std::wstring> text = ReadText(OpenKey(HKEY_LOCAL_MACHINE, keyPath_, true).get(), name);
  *out = text ? ::SysAllocString(text->c_str()) : nullptr;
  return text && !*out ? E_OUTOFMEMORY : S_OK;
}

STDMETHODIMP UserManager::CreateUser(tagKYUSER_ACCOUNT_INFO* info, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    if (!info) {
      Answer(L"CreateUser", L"(null)", result);
      return E_POINTER;
    }
    std::wstring arguments =
        AccountCallLog::Quoted(info->pwszUserName) + Strata::Format(L", %d, %d", info->bStartupUser, info->lAccountMode);
    if (!Answer(L"CreateUser", arguments, result)) return E_POINTER;
    if (info->pwszUserName) directory_.StoreUser(info->pwszUserName, info->bStartupUser ? 1 : 0);
    return S_OK;
  });
}

STDMETHODIMP UserManager::DeleteUser(LPCWSTR userName, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    return Answer(L"DeleteUser", AccountCallLog::Quoted(userName), result) ? S_OK : E_POINTER;
  });
}

STDMETHODIMP UserManager::SetStartupUser(BSTR* userName, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    if (!userName) {
      Answer(L"SetStartupUser", L"(null)", result);
      return E_POINTER;
    }
    if (!Answer(L"SetStartupUser", AccountCallLog::Quoted(*userName), result)) return E_POINTER;
    SetStateText(L"StartupUser", *userName);
    return S_OK;
  });
}

STDMETHODIMP UserManager::GetStartupUser(BSTR* userName, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    if (!userName || !Answer(L"GetStartupUser", L"", result)) return E_POINTER;
    return StateTextAsBstr(L"StartupUser", userName);
  });
}

STDMETHODIMP UserManager::SetDisplayName(LPCWSTR userName, LPCWSTR displayName, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    std::wstring arguments = AccountCallLog::Quoted(userName) + L", " + AccountCallLog::Quoted(displayName);
    return Answer(L"SetDisplayName", arguments, result) ? S_OK : E_POINTER;
  });
}

STDMETHODIMP UserManager::SetPassword(LPCWSTR userName, const BYTE* password, ULONG size, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    std::wstring arguments =
        AccountCallLog::Quoted(userName) + L", " + AccountCallLog::Hex(password, size) + Strata::Format(L", %u", size);
    return Answer(L"SetPassword", arguments, result) ? S_OK : E_POINTER;
  });
}

STDMETHODIMP UserManager::VerifyPassword(LPCWSTR userName, const BYTE* password, ULONG size, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    std::wstring arguments =
        AccountCallLog::Quoted(userName) + L", " + AccountCallLog::Hex(password, size) + Strata::Format(L", %u", size);
    return Answer(L"VerifyPassword", arguments, result) ? S_OK : E_POINTER;
  });
}

STDMETHODIMP UserManager::LogIn(LPCWSTR userName, LPCWSTR password, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    std::wstring arguments = AccountCallLog::Quoted(userName) + L", " + AccountCallLog::Quoted(password);
    return Answer(L"LogIn", arguments, result) ? S_OK : E_POINTER;
  });
}

STDMETHODIMP UserManager::LogOut(LPCWSTR userName, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    return Answer(L"LogOut", AccountCallLog::Quoted(userName), result) ? S_OK : E_POINTER;
  });
}

STDMETHODIMP UserManager::SetLoginUserMode(LONG mode, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    if (!Answer(L"SetLoginUserMode", Strata::Format(L"%d", mode), result)) return E_POINTER;
    WriteDword(OpenKey(HKEY_LOCAL_MACHINE, keyPath_, true).get(), L"LoginUserMode", static_cast<DWORD>(mode));
    return S_OK;
  });
}

STDMETHODIMP UserManager::GetLoginUserMode(LONG* mode, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    if (!mode || !Answer(L"GetLoginUserMode", L"", result)) return E_POINTER;
    *mode = static_cast<LONG>(ReadDword(OpenKey(HKEY_LOCAL_MACHINE, keyPath_, true).get(), L"LoginUserMode").value_or(0));
    return S_OK;
  });
}

STDMETHODIMP UserManager::SetAccountMode(LPCWSTR userName, LONG mode, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    std::wstring arguments = AccountCallLog::Quoted(userName) + Strata::Format(L", %d", mode);
    return Answer(L"SetAccountMode", arguments, result) ? S_OK : E_POINTER;
  });
}

STDMETHODIMP UserManager::SetAdministratorInfo(LPCWSTR name, LPCWSTR email, LPCWSTR passwordHint, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    std::wstring arguments = AccountCallLog::Quoted(name) + L", " + AccountCallLog::Quoted(email) + L", " +
                             AccountCallLog::Quoted(passwordHint);
    if (!Answer(L"SetAdministratorInfo", arguments, result)) return E_POINTER;
    SetStateText(L"AdministratorName", name);
    return S_OK;
  });
}

STDMETHODIMP UserManager::GetAccountMode(LPCWSTR userName, LONG* mode, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    if (!mode || !Answer(L"GetAccountMode", AccountCallLog::Quoted(userName), result)) return E_POINTER;
    *mode = 0;
    return S_OK;
  });
}

STDMETHODIMP UserManager::GetAdministratorName(BSTR* name, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    if (!name || !Answer(L"GetAdministratorName", L"", result)) return E_POINTER;
    return StateTextAsBstr(L"AdministratorName", name);
  });
}

}  // namespace ZelStandIns
