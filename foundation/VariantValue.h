// An owned VARIANT: cleared when it goes, copied only through CopyFrom so that a failed copy is
// seen.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

class CVariantValue {
 public:
  CVariantValue() noexcept { ::VariantInit(&value_); }
  ~CVariantValue() { ::VariantClear(&value_); }
  CVariantValue(CVariantValue&& other) noexcept : value_(other.value_) { ::VariantInit(&other.value_); }
  CVariantValue& operator=(CVariantValue&& other) noexcept {
    if (this != &other) {
      ::VariantClear(&value_);
      value_ = other.value_;
      ::VariantInit(&other.value_);
    }
    return *this;
  }
  CVariantValue(const CVariantValue&) = delete;
  CVariantValue& operator=(const CVariantValue&) = delete;

  // Replaces the held value by a deep copy of `source`.
  HRESULT CopyFrom(const VARIANT& source) noexcept {
    return ::VariantCopy(&value_, const_cast<VARIANT*>(&source));
  }

  const VARIANT& Get() const noexcept { return value_; }
  // For APIs that fill a VARIANT; clears what was held first.
  VARIANT* Put() noexcept {
    ::VariantClear(&value_);
    return &value_;
  }

 private:
  VARIANT value_;
};

// A growable array of owned VARIANTs.
using VariantList = std::vector<CVariantValue>;
