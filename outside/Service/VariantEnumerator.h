// IEnumVARIANT over a fixed list of items, the snapshot the users collection hands out.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <mutex>
#include <vector>

#include "LiveObjects.h"
#include "ServiceKnobs.h"
#include "SlimLock.h"
#include "ServiceVariant.h"

namespace ZelService {

class CVariantEnumerator : public ComObject<IEnumVARIANT> {
 public:
  using Items = std::shared_ptr<const std::vector<Variant>>;
  CVariantEnumerator(Items items, ULONG position) : items_(std::move(items)), position_(position) {}

  STDMETHODIMP Next(ULONG wanted, VARIANT* items, ULONG* fetched) override;
  STDMETHODIMP Skip(ULONG count) override;
  STDMETHODIMP Reset() override;
  STDMETHODIMP Clone(IEnumVARIANT** copy) override;

 private:
  const Items items_;
  const ServiceLife life_;
  // Guards position_: an enumerator may be shared between threads.
  Strata::SlimLock guard_;
  ULONG position_;
};

}  // namespace ZelService
