#include "VariantEnumerator.h"

#include <algorithm>

namespace ZelService {

HRESULT CVariantEnumerator::Next(ULONG wanted, VARIANT* items, ULONG* fetched) {
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
  std::lock_guard<Strata::SlimLock> lock(guard_);
  ULONG left = static_cast<ULONG>(items_->size()) - position_;
  position_ += std::min(count, left);
  return count <= left ? S_OK : S_FALSE;
}

HRESULT CVariantEnumerator::Reset() {
  std::lock_guard<Strata::SlimLock> lock(guard_);
  position_ = 0;
  return S_OK;
}

HRESULT CVariantEnumerator::Clone(IEnumVARIANT** copy) {
  std::lock_guard<Strata::SlimLock> lock(guard_);
  return CreateFor<CVariantEnumerator>(IID_IEnumVARIANT, reinterpret_cast<void**>(copy), items_, position_);
}

}  // namespace ZelService
