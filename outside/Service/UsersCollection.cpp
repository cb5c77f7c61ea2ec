#include "UsersCollection.h"

#include <algorithm>
#include <cwchar>
#include <memory>

#include "ConfigObject.h"
#include "CreateInstanceViaFactory.h"
#include "KyUserManager.h"
#include "StandInKnobs.h"
#include "ServiceKnobs.h"
#include "ServiceResults.h"
#include "VariantEnumerator.h"

using Microsoft::WRL::ComPtr;

namespace ZelService {

namespace {

// The service's own user object behind an item VARIANT of one of the given types, if it is one.
ComPtr<IServiceUser> UserOf(const VARIANT& item, bool dispatchOnly) {
  Variant resolved;
  if (FAILED(resolved.Assign(item))) return nullptr;
  VARTYPE type = V_VT(&resolved.Get());
  if (type != VT_DISPATCH && (dispatchOnly || type != VT_UNKNOWN)) return nullptr;
  IUnknown* object = V_UNKNOWN(&resolved.Get());
  ComPtr<IServiceUser> user;
  if (object) object->QueryInterface(IID_PPV_ARGS(&user));
  return user;
}

// The "ApplyRaisesUserEvent" knob ("EVENT INFO"): the platform user event that the next Apply
// raises into the platform's user-events class on the caller's own thread, before it applies, as
// a service whose apply reaches the platform would. Used up by that Apply; its answer is kept as
// "ApplyRaisedUserEvent.HResult" in the per-process subkey.
void RaiseConfiguredUserEvent(const ServiceStore& store) {
  constexpr wchar_t kKnob[] = L"ApplyRaisesUserEvent";
  std::optional<std::wstring> event = store.ReadTextKnob(kKnob);
  if (!event) return;
  const std::wstring processKey = ZelStandIns::StandInKnobs::ProcessKeyPath(kStandInName, ::GetCurrentProcessId());
  for (const std::wstring& key : {processKey, ZelStandIns::StandInKnobs::KeyPath(kStandInName)})
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), kKnob);
  wchar_t* info = nullptr;
  const DWORD id = std::wcstoul(event->c_str(), &info, 10);
  while (info && *info == L' ') ++info;
  CLSID userEvents{};
  HRESULT hr = ::CLSIDFromProgID(L"ZelEventHandler.UserEvents", &userEvents);
  ComPtr<IKyUserEvents> sink;
  if (SUCCEEDED(hr)) hr = Ky::CreateInstanceViaFactory(userEvents, CLSCTX_INPROC_SERVER, IID_IKyUserEvents, &sink);
  if (SUCCEEDED(hr)) hr = sink->NotifyEvent(id, info ? info : L"");
  const DWORD answer = static_cast<DWORD>(hr);
  ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, processKey.c_str(), L"ApplyRaisedUserEvent.HResult", REG_DWORD, &answer,
                    sizeof(answer));
}

std::wstring NewUserId() {
  GUID id;
  ::CoCreateGuid(&id);
  wchar_t text[40];
  ::StringFromGUID2(id, text, ARRAYSIZE(text));
  return text;
}

}  // namespace

HRESULT CUsersCollection::GetEnumerator(IUnknown** enumerator) {
  if (life_.Gone()) return kServerGone;
  if (!enumerator) return E_POINTER;
  *enumerator = nullptr;
  if (std::optional<KnobAnswer> answer = ConfiguredAnswer(L"Enumerator"); answer && FAILED(answer->hr))
    return answer->hr;
  auto items = std::make_shared<std::vector<Variant>>();
  for (const std::wstring& id : store_.UserIds()) {
    Variant item;
    HRESULT hr = CConfigObject::CreateVariant(ConfigKind::User, id, item.Put());
    if (FAILED(hr)) return hr;
    items->push_back(item);
  }
  // An enumeration that goes on far past the users, as a broken service's might.
  const DWORD extra = ZelStandIns::StandInKnobs(kStandInName).ReadDword(L"EnumeratorExtraItems").value_or(0);
  items->resize(items->size() + extra);
  return CVariantEnumerator::CreateInstance<CVariantEnumerator>(IID_IUnknown, reinterpret_cast<void**>(enumerator),
                                                           std::move(items), 0UL);
}

long CUsersCollection::AddLocked(IServiceUser* user) {
  const std::wstring id = user->UserId();
  bool pending = std::any_of(pendingAdds_.begin(), pendingAdds_.end(),
                             [&](const ComPtr<IServiceUser>& added) { return added->UserId() == id; });
  if (pending || store_.KeyExists(ServiceStore::UserPath(id))) return kResultAlreadyExists;
  std::optional<std::wstring> name = user->Name();
  if (name) {
    bool taken = store_.FindUserByName(*name).has_value() ||
                 std::any_of(pendingAdds_.begin(), pendingAdds_.end(), [&](const ComPtr<IServiceUser>& added) {
                   std::optional<std::wstring> other = added->Name();
                   return other && ::CompareStringOrdinal(other->c_str(), -1, name->c_str(), -1, TRUE) == CSTR_EQUAL;
                 });
    if (taken) return kResultAlreadyExists;
  }
  pendingAdds_.emplace_back(user);
  return kResultSuccess;
}

HRESULT CUsersCollection::Add(VARIANT item, long* result) {
  if (life_.Gone()) return kServerGone;
  if (!result) return E_POINTER;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"Add", hr, result)) return hr;
  ComPtr<IServiceUser> user = UserOf(item, false);
  if (!user) {
    *result = kResultInvalidArgument;
    return E_INVALIDARG;
  }
  std::lock_guard<Strata::SlimLock> lock(guard_);
  *result = AddLocked(user.Get());
  return S_OK;
}

long CUsersCollection::RemoveLocked(IServiceUser* user) {
  const std::wstring id = user->UserId();
  // Removing an addition that is still pending simply drops it.
  auto added = std::find_if(pendingAdds_.begin(), pendingAdds_.end(),
                            [&](const ComPtr<IServiceUser>& pending) { return pending->UserId() == id; });
  if (added != pendingAdds_.end()) {
    pendingAdds_.erase(added);
    return kResultSuccess;
  }
  if (!store_.KeyExists(ServiceStore::UserPath(id))) return kResultUnknownUser;
  if (std::find(pendingRemoves_.begin(), pendingRemoves_.end(), id) == pendingRemoves_.end())
    pendingRemoves_.push_back(id);
  return kResultSuccess;
}

HRESULT CUsersCollection::Remove(VARIANT item, long* result) {
  if (life_.Gone()) return kServerGone;
  if (!result) return E_POINTER;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"Remove", hr, result)) return hr;
  ComPtr<IServiceUser> user = UserOf(item, true);
  if (!user) {
    *result = kResultInvalidArgument;
    return DISP_E_TYPEMISMATCH;
  }
  std::lock_guard<Strata::SlimLock> lock(guard_);
  *result = RemoveLocked(user.Get());
  return S_OK;
}

HRESULT CUsersCollection::GetCount(long* count, long* result) {
  if (life_.Gone()) return kServerGone;
  if (!count || !result) return E_POINTER;
  *count = 0;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"Count", hr, result)) return hr;
  *count = static_cast<long>(store_.UserIds().size());
  *result = kResultSuccess;
  return S_OK;
}

long CUsersCollection::CheckPendingLocked() const {
  for (const std::wstring& id : pendingRemoves_)
    if (!store_.KeyExists(ServiceStore::UserPath(id))) return kResultUnknownUser;
  for (const ComPtr<IServiceUser>& added : pendingAdds_) {
    std::optional<std::wstring> name = added->Name();
    if (name && store_.FindUserByName(*name)) return kResultAlreadyExists;
  }
  return kResultSuccess;
}

HRESULT CUsersCollection::Apply(long* result) {
  if (life_.Gone()) return kServerGone;
  if (!result) return E_POINTER;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"Apply", hr, result)) return hr;
  RaiseConfiguredUserEvent(store_);
  std::lock_guard<Strata::SlimLock> lock(guard_);
  // Another process may have changed the users since the changes were made: check and apply
  // under the store's lock, so that either all of them apply or none.
  Strata::MutexLock storeLock = store_.Lock();
  *result = CheckPendingLocked();
  if (*result != kResultSuccess) return S_OK;
  for (const std::wstring& id : pendingRemoves_) {
    hr = store_.DeleteUser(id);
    if (FAILED(hr)) return hr;
  }
  pendingRemoves_.clear();
  for (const ComPtr<IServiceUser>& added : pendingAdds_) {
    hr = store_.WriteProperties(ServiceStore::UserPath(added->UserId()), added->TakePending());
    if (FAILED(hr)) return hr;
  }
  pendingAdds_.clear();
  return S_OK;
}

HRESULT CUsersCollection::Revert(long* result) {
  if (life_.Gone()) return kServerGone;
  if (!result) return E_POINTER;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"Revert", hr, result)) return hr;
  std::lock_guard<Strata::SlimLock> lock(guard_);
  pendingAdds_.clear();
  pendingRemoves_.clear();
  *result = kResultSuccess;
  return S_OK;
}

HRESULT CUsersCollection::CreateItem(VARIANT* item, long* result) {
  if (life_.Gone()) return kServerGone;
  if (!item || !result) return E_POINTER;
  ::VariantInit(item);
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"CreateItem", hr, result)) return hr;
  hr = CConfigObject::CreateVariant(ConfigKind::NewUser, NewUserId(), item);
  *result = SUCCEEDED(hr) ? kResultSuccess : kResultInvalidArgument;
  return hr;
}

}  // namespace ZelService
