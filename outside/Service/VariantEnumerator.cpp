#include "VariantEnumerator.h"

#include "ServiceKnobs.h"

#include <algorithm>

namespace ZelService {

HRESULT CVariantEnumerator::Next(ULONG wanted, VARIANT* items, ULONG* fetched) {
  if (life_.Gone()) return kServerGone;
  if (!items || (wanted > 1 && !fetched)) return E_POINTER;
  std::lock_guard<Strata::SlimLock> lock(guard_);
  ULONG given = 0;
  for (; given < wanted && position_ < items_->size(); ++given, ++position_) {
    HRESULT hr = (*items_)[position_].CopyTo(&items[given]);
    if (FAILED(hr)) {
      while (given > 0) ::VariantClear(&items[--given]);
      return hr;
    }
  }
  if (fetched) *fetched = given;
  return given == wanted ? S_OK : S_FALSE;
}

HRESULT CVariantEnumerator::Skip(ULONG count) {
  if (life_.Gone()) return kServerGone;
  std::lock_guard<Strata::SlimLock> lock(guard_);
  ULONG left = static_cast<ULONG>(items_->size()) - position_;
  position_ += std::min(count, left);
  return count <= left ? S_OK : S_FALSE;
}

HRESULT CVariantEnumerator::Reset() {
  if (life_.Gone()) return kServerGone;
  std::lock_guard<Strata::SlimLock> lock(guard_);
  position_ = 0;
  return S_OK;
}

HRESULT CVariantEnumerator::Clone(IEnumVARIANT** copy) {
  if (life_.Gone()) return kServerGone;
  std::lock_guard<Strata::SlimLock> lock(guard_);
  return CreateInstance<CVariantEnumerator>(IID_IEnumVARIANT, reinterpret_cast<void**>(copy), items_, position_);
}

}  // namespace ZelService
