#include "ConfigObject.h"

#include "ServiceKnobs.h"
#include "ServiceResults.h"

namespace ZelService {

namespace {

std::wstring TextOf(const VARIANT& value) {
  VARIANT text;
  ::VariantInit(&text);
  if (FAILED(::VariantChangeTypeEx(&text, const_cast<VARIANT*>(&value), LOCALE_INVARIANT, 0, VT_BSTR))) return {};
  UniqueBstr owned(text.bstrVal);
  return std::wstring(owned.get(), ::SysStringLen(owned.get()));
}

}  // namespace

HRESULT CConfigObject::CreateVariant(ConfigKind kind, const std::wstring& userId, VARIANT* item) {
  ::VariantInit(item);
  IDispatch* object = nullptr;
  HRESULT hr = CreateInstance<CConfigObject>(IID_IDispatch, reinterpret_cast<void**>(&object), kind, userId);
  if (FAILED(hr)) return hr;
  V_VT(item) = VT_DISPATCH;
  V_DISPATCH(item) = object;
  return S_OK;
}

std::wstring CConfigObject::PathLocked() const {
  switch (kind_) {
    case ConfigKind::User:
    case ConfigKind::NewUser:
      return ServiceStore::UserPath(userId_);
    case ConfigKind::Global:
      return L"Global";
    case ConfigKind::AdminSettings:
      return L"AdminSettings";
    case ConfigKind::AgeGroups:
      return L"AgeGroups\\" + std::to_wstring(selectedAgeGroup_);
  }
  return {};
}

std::optional<Variant> CConfigObject::Read(long propertyId) const {
  std::wstring path;
  {
    std::lock_guard<Strata::SlimLock> lock(guard_);
    path = PathLocked();
    auto pending = pending_.find(path);
    if (pending != pending_.end()) {
      auto value = pending->second.find(propertyId);
      if (value != pending->second.end()) return value->second;
    }
  }
  PropertyMap applied = store_.ReadProperties(path);
  auto value = applied.find(propertyId);
  if (value == applied.end()) return std::nullopt;
  return value->second;
}

HRESULT CConfigObject::GetValue(long propertyId, VARIANT* value, long* result) {
  if (life_.Gone()) return kServerGone;
  if (!value || !result) return E_POINTER;
  ::VariantInit(value);
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"ConfigGetValue", hr, result)) return hr;
  if (kind_ == ConfigKind::AgeGroups && propertyId == kAgeGroupSelection) {
    std::lock_guard<Strata::SlimLock> lock(guard_);
    V_VT(value) = VT_I4;
    V_I4(value) = selectedAgeGroup_;
    *result = kResultSuccess;
    return S_OK;
  }
  std::optional<Variant> stored = Read(propertyId);
  if (!stored) {
    *result = kResultNotFound;
    return S_OK;
  }
  *result = kResultSuccess;
  return stored->CopyTo(value);
}

// The password and the security answer are checked, never stored: a value is accepted when it is
// the configured one, and the empty text is accepted when none is configured.
long CConfigObject::ValidateSecret(long propertyId, const VARIANT& value) const {
  const wchar_t* knob = propertyId == kAdminPassword ? L"AdminPassword" : L"SecurityAnswer";
  std::wstring expected = store_.ReadTextKnob(knob).value_or(std::wstring());
  if (V_VT(&value) != VT_BSTR) return kResultValueRefused;
  return TextOf(value) == expected ? kResultSuccess : kResultValueRefused;
}

HRESULT CConfigObject::SetValue(long propertyId, VARIANT value, long* result) {
  if (life_.Gone()) return kServerGone;
  if (!result) return E_POINTER;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"ConfigSetValue", hr, result)) return hr;
  if (kind_ == ConfigKind::AdminSettings && (propertyId == kAdminPassword || propertyId == kSecurityAnswer)) {
    *result = ValidateSecret(propertyId, value);
    return S_OK;
  }
  Variant written;
  if (FAILED(written.Assign(value)) || !EncodeProperty(written.Get())) {
    *result = kResultInvalidArgument;
    return S_OK;
  }
  std::lock_guard<Strata::SlimLock> lock(guard_);
  if (kind_ == ConfigKind::AgeGroups && propertyId == kAgeGroupSelection) {
    Variant group;
    if (FAILED(written.ConvertTo(VT_I4, group))) {
      *result = kResultInvalidArgument;
      return S_OK;
    }
    selectedAgeGroup_ = V_I4(&group.Get());
  } else {
    pending_[PathLocked()][propertyId] = written;
  }
  *result = kResultSuccess;
  return S_OK;
}

HRESULT CConfigObject::Apply(long* result) {
  if (life_.Gone()) return kServerGone;
  if (!result) return E_POINTER;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"ConfigApply", hr, result)) return hr;
  const bool isUser = kind_ == ConfigKind::User || kind_ == ConfigKind::NewUser;
  if (isUser && !store_.KeyExists(ServiceStore::UserPath(userId_))) {
    // A new user's values wait for the collection to apply its addition; a removed user is gone.
    *result = kind_ == ConfigKind::NewUser ? kResultSuccess : kResultUnknownUser;
    return S_OK;
  }
  std::map<std::wstring, PropertyMap> applying;
  {
    std::lock_guard<Strata::SlimLock> lock(guard_);
    applying.swap(pending_);
  }
  for (const auto& [path, properties] : applying) {
    hr = store_.WriteProperties(path, properties);
    if (FAILED(hr)) return hr;
  }
  *result = kResultSuccess;
  return S_OK;
}

std::optional<std::wstring> CConfigObject::Name() {
  std::optional<Variant> name = Read(kUserName);
  if (!name || V_VT(&name->Get()) != VT_BSTR) return std::nullopt;
  return TextOf(name->Get());
}

PropertyMap CConfigObject::TakePending() {
  std::lock_guard<Strata::SlimLock> lock(guard_);
  PropertyMap taken = std::move(pending_[PathLocked()]);
  pending_.clear();
  return taken;
}

}  // namespace ZelService
