// The service's users collection. Additions and removals wait in the collection object until
// Apply makes them visible to every process, all or none.
#pragma once

#include <windows.h>
#include <wrl/client.h>

#include <mutex>
#include <string>
#include <vector>

#include "LiveObjects.h"
#include "ServiceKnobs.h"
#include "SlimLock.h"
#include "KyGSService.h"
#include "ServiceStore.h"
#include "ServiceUser.h"
#include "TypelessDispatch.h"

namespace ZelService {

class CUsersCollection : public ComObject<IKyGSConfigCollection, Ky::TypelessDispatch<>> {
 public:
  STDMETHODIMP GetEnumerator(IUnknown** enumerator) override;
  STDMETHODIMP Add(VARIANT item, long* result) override;
  STDMETHODIMP Remove(VARIANT item, long* result) override;
  STDMETHODIMP GetCount(long* count, long* result) override;
  STDMETHODIMP Apply(long* result) override;
  STDMETHODIMP Revert(long* result) override;
  STDMETHODIMP CreateItem(VARIANT* item, long* result) override;

 private:
  long AddLocked(IServiceUser* user);
  long RemoveLocked(IServiceUser* user);
  // The result code that stops the pending changes from applying, or success.
  long CheckPendingLocked() const;

  const ServiceStore store_;
  const ServiceLife life_;
  // Guards pendingAdds_ and pendingRemoves_.
  Strata::SlimLock guard_;
  std::vector<Microsoft::WRL::ComPtr<IServiceUser>> pendingAdds_;
  std::vector<std::wstring> pendingRemoves_;
};

}  // namespace ZelService
