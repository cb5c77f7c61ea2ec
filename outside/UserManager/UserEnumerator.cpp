#include "UserEnumerator.h"

#include "ComGuard.h"
#include "PlatformUser.h"

namespace ZelStandIns {

STDMETHODIMP UserEnumerator::Next(IKyUser** user, LONG* result) {
  return GuardHResult([&]() -> HRESULT {
    if (!user || !result) return E_POINTER;
    *user = nullptr;
    *result = 0;
    if (next_ >= users_.size()) return S_FALSE;
    return PlatformUser::CreateInstance<PlatformUser>(IID_IKyUser, reinterpret_cast<void**>(user),
                                                            users_[next_++]);
  });
}

STDMETHODIMP UserEnumerator::Reset(LONG* result) {
  if (!result) return E_POINTER;
  next_ = 0;
  *result = 0;
  return S_OK;
}

}  // namespace ZelStandIns
