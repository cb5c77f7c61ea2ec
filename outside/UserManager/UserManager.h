// The user manager and account manager stand-in: one class, two interfaces. Users and sessions
// come from UserDirectory; every account-manager call is recorded with its arguments.
//
// Account-manager knobs under the state key: "AccountResult" (the result code of every call,
// default 0), "AccountResult.<method>" (the result code of one method), "AccountResult.<method>.After"
// (how many calls of that method answer normally before it holds: the k-th call fails). It keeps
// "StartupUser", "LoginUserMode" and "AdministratorName" as set through it, and CreateUser adds
// the user to the directory.
#pragma once

#include <string>

#include "AccountCallLog.h"
#include "KyUserManager.h"
#include "ServerLock.h"
#include "UserDirectory.h"

namespace ZelStandIns {

class UserManager : public ServerObject<IKyUserManager, IKyUserAccountManager> {
 public:
  explicit UserManager(std::wstring stateKeyPath);

  // IKyUserManager
  STDMETHODIMP GetLoggedOnUser(ULONG sessionId, IKyUser** user, LONG* result) override;
  STDMETHODIMP EnumUsers(IKyUserEnumerator** enumerator, LONG* result) override;
  STDMETHODIMP FindUser(LPCWSTR logonName, IKyUser** user, LONG* result) override;

  // IKyUserAccountManager
  STDMETHODIMP CreateUser(tagKYUSER_ACCOUNT_INFO* info, LONG* result) override;
  STDMETHODIMP DeleteUser(LPCWSTR userName, LONG* result) override;
  STDMETHODIMP SetStartupUser(BSTR* userName, LONG* result) override;
  STDMETHODIMP GetStartupUser(BSTR* userName, LONG* result) override;
  STDMETHODIMP SetDisplayName(LPCWSTR userName, LPCWSTR displayName, LONG* result) override;
  STDMETHODIMP SetPassword(LPCWSTR userName, const BYTE* password, ULONG size, LONG* result) override;
  STDMETHODIMP VerifyPassword(LPCWSTR userName, const BYTE* password, ULONG size, LONG* result) override;
  STDMETHODIMP LogIn(LPCWSTR userName, LPCWSTR password, LONG* result) override;
  STDMETHODIMP LogOut(LPCWSTR userName, LONG* result) override;
  STDMETHODIMP SetLoginUserMode(LONG mode, LONG* result) override;
  STDMETHODIMP GetLoginUserMode(LONG* mode, LONG* result) override;
  STDMETHODIMP SetAccountMode(LPCWSTR userName, LONG mode, LONG* result) override;
  STDMETHODIMP SetAdministratorInfo(LPCWSTR name, LPCWSTR email, LPCWSTR passwordHint, LONG* result) override;
  STDMETHODIMP GetAccountMode(LPCWSTR userName, LONG* mode, LONG* result) override;
  STDMETHODIMP GetAdministratorName(BSTR* name, LONG* result) override;

 private:
  // Records the call and hands back the configured result code; false when `result` is null.
  bool Answer(const wchar_t* method, const std::wstring& arguments, LONG* result) const;
  HRESULT AnswerUser(const std::optional<UserRecord>& user, IKyUser** out) const;
  void SetStateText(const wchar_t* name, const wchar_t* text) const;
  HRESULT StateTextAsBstr(const wchar_t* name, BSTR* out) const;

  const std::wstring keyPath_;
  const UserDirectory directory_;
  const AccountCallLog calls_;
};

}  // namespace ZelStandIns
