// The service's configuration objects: a user, the global settings, the administrator settings
// and the age groups. Writes stay with the object until Apply stores them for every process.
#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <string>

#include "LiveObjects.h"
#include "ServiceKnobs.h"
#include "SlimLock.h"
#include "KyGSService.h"
#include "ServiceStore.h"
#include "ServiceUser.h"
#include "TypelessDispatch.h"

namespace ZelService {

enum class ConfigKind { User, NewUser, Global, AdminSettings, AgeGroups };

class CConfigObject : public ComObject<IKyConfig, Ky::TypelessDispatch<>, IServiceUser> {
 public:
  // A configuration object as a VT_DISPATCH VARIANT; `userId` names the user of the user kinds.
  static HRESULT CreateVariant(ConfigKind kind, const std::wstring& userId, VARIANT* item);

  CConfigObject(ConfigKind kind, std::wstring userId) : kind_(kind), userId_(std::move(userId)) {}

  STDMETHODIMP GetValue(long propertyId, VARIANT* value, long* result) override;
  STDMETHODIMP SetValue(long propertyId, VARIANT value, long* result) override;
  STDMETHODIMP Apply(long* result) override;

  std::wstring STDMETHODCALLTYPE UserId() override { return userId_; }
  std::optional<std::wstring> STDMETHODCALLTYPE Name() override;
  PropertyMap STDMETHODCALLTYPE TakePending() override;

 private:
  // Where the object's applied properties live; for the age groups, the selected group's.
  std::wstring PathLocked() const;
  long ValidateSecret(long propertyId, const VARIANT& value) const;
  // A property as this object sees it: its unapplied value, else the applied one.
  std::optional<Variant> Read(long propertyId) const;

  const ConfigKind kind_;
  const std::wstring userId_;
  const ServiceStore store_;
  const ServiceLife life_;
  // Guards selectedAgeGroup_ and pending_: callers may use one object from several threads. Never
  // held while the store's lock is taken, since the users collection takes the store's lock first.
  mutable Strata::SlimLock guard_;
  long selectedAgeGroup_ = 0;
  // Unapplied writes by the path they belong to.
  std::map<std::wstring, PropertyMap> pending_;
};

}  // namespace ZelService
