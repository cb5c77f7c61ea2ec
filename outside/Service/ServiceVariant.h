// Owning VARIANT and BSTR holders for the service stand-in.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "Handles.h"

namespace ZelService {

using UniqueBstr = Strata::UniqueAny<Strata::detail::NullTraits<BSTR, ::SysFreeString>>;

// A VARIANT that clears itself; copies are deep (a copy that cannot be made is VT_EMPTY).
class Variant {
 public:
  Variant() noexcept { ::VariantInit(&value_); }
  explicit Variant(const VARIANT& other) noexcept : Variant() { Assign(other); }
  Variant(const Variant& other) noexcept : Variant() { Assign(other.value_); }
  Variant& operator=(const Variant& other) noexcept {
    if (this != &other) Assign(other.value_);
    return *this;
  }
  ~Variant() { ::VariantClear(&value_); }

  // A VT_BSTR copy of `text`; VT_EMPTY when memory runs out.
  static Variant Text(const wchar_t* text) noexcept {
    Variant value;
    if (BSTR copy = ::SysAllocString(text)) {
      V_VT(&value.value_) = VT_BSTR;
      V_BSTR(&value.value_) = copy;
    }
    return value;
  }

  const VARIANT& Get() const noexcept { return value_; }
  // Clears what is held and hands out the VARIANT for an API that fills it.
  VARIANT* Put() noexcept {
    ::VariantClear(&value_);
    return &value_;
  }
  // A copy for a caller's out parameter, which the caller clears.
  HRESULT CopyTo(VARIANT* out) const noexcept {
    ::VariantInit(out);
    return ::VariantCopy(out, const_cast<VARIANT*>(&value_));
  }
  // This value as another type, converted without regard to the user's locale.
  HRESULT ConvertTo(VARTYPE type, Variant& converted) const noexcept {
    return ::VariantChangeTypeEx(converted.Put(), const_cast<VARIANT*>(&value_), LOCALE_INVARIANT, 0, type);
  }
  // Copies `other`; a by-reference VARIANT is resolved to its value.
  HRESULT Assign(const VARIANT& other) noexcept {
    ::VariantClear(&value_);
    return ::VariantCopyInd(&value_, const_cast<VARIANT*>(&other));
  }

 private:
  VARIANT value_;
};

}  // namespace ZelService
