// Walks the users that existed when the enumeration was asked for, in logon-name order.
#pragma once

#include <vector>

#include "KyUserManager.h"
#include "ServerLock.h"
#include "UserDirectory.h"

namespace ZelStandIns {

class UserEnumerator : public ServerObject<IKyUserEnumerator> {
 public:
  explicit UserEnumerator(std::vector<UserRecord> users) : users_(std::move(users)) {}

  STDMETHODIMP Next(IKyUser** user, LONG* result) override;
  STDMETHODIMP Reset(LONG* result) override;

 private:
  const std::vector<UserRecord> users_;
  // Guarded by the apartment rules of the caller: an enumerator is used by one thread at a time.
  size_t next_ = 0;
};

}  // namespace ZelStandIns
