// One platform user, answering from the record it was made with.
#pragma once

#include "KyUserManager.h"
#include "ServerLock.h"
#include "UserDirectory.h"

namespace ZelStandIns {

class PlatformUser : public ServerObject<IKyUser> {
 public:
  explicit PlatformUser(UserRecord record) : record_(std::move(record)) {}

  STDMETHODIMP GetLogonName(LPWSTR* name, LONG* result) override;
  STDMETHODIMP GetDisplayName(LPWSTR* name, LONG* result) override;
  STDMETHODIMP GetUserType(LONG* type, LONG* result) override;
  STDMETHODIMP IsStartupUser(LONG* startup, LONG* result) override;
  STDMETHODIMP GetAdminFlag(LONG* flag, LONG* result) override;
  STDMETHODIMP GetUserFlag(LONG* flag, LONG* result) override;
  STDMETHODIMP GetGroupSids(SAFEARRAY** sids, LONG* result) override;

 private:
  HRESULT AnswerText(const std::optional<std::wstring>& text, LPWSTR* out, LONG* result) const;
  static HRESULT AnswerNumber(DWORD value, LONG* out, LONG* result);

  const UserRecord record_;
};

}  // namespace ZelStandIns
