#include "ServiceRoot.h"

#include "ConfigObject.h"
#include "ServiceKnobs.h"
#include "ServiceResults.h"
#include "UsersCollection.h"

namespace ZelService {

HRESULT CServiceRoot::QueryInterface(REFIID iid, void** object) {
  if (iid != IID_IUnknown && life_.Gone()) {
    if (object) *object = nullptr;
    return kServerGone;
  }
  return ComObject::QueryInterface(iid, object);
}

HRESULT CServiceRoot::GetValue(long id, VARIANT* value, long* result) {
  if (life_.Gone()) return kServerGone;
  if (!value || !result) return E_POINTER;
  ::VariantInit(value);
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"GetValue", hr, result)) return hr;
  switch (id) {
    case kGlobalSettings:
      hr = CConfigObject::CreateVariant(ConfigKind::Global, {}, value);
      break;
    case kAdminSettings:
      hr = CConfigObject::CreateVariant(ConfigKind::AdminSettings, {}, value);
      break;
    case kAgeGroups:
      hr = CConfigObject::CreateVariant(ConfigKind::AgeGroups, {}, value);
      break;
    case kUsersCollection: {
      IDispatch* collection = nullptr;
      hr = CUsersCollection::CreateInstance<CUsersCollection>(IID_IDispatch, reinterpret_cast<void**>(&collection));
      if (SUCCEEDED(hr)) {
        V_VT(value) = VT_DISPATCH;
        V_DISPATCH(value) = collection;
      }
      break;
    }
    default:
      *result = kResultNotFound;
      return S_OK;
  }
  *result = SUCCEEDED(hr) ? kResultSuccess : kResultInvalidArgument;
  return hr;
}

HRESULT CServiceRoot::SignIn(unsigned long session, BSTR userName, BSTR, long* result) {
  if (life_.Gone()) return kServerGone;
  if (!result) return E_POINTER;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"SignIn", hr, result)) return hr;
  std::wstring name(userName ? userName : L"", userName ? ::SysStringLen(userName) : 0);
  if (name.empty() || !store_.FindUserByName(name)) {
    *result = kResultUnknownUser;
    return S_OK;
  }
  hr = store_.SetSessionUser(session, name);
  *result = SUCCEEDED(hr) ? kResultSuccess : kResultInvalidArgument;
  return hr;
}

HRESULT CServiceRoot::SignOut(unsigned long session, long* result) {
  if (life_.Gone()) return kServerGone;
  if (!result) return E_POINTER;
  HRESULT hr = S_OK;
  if (AnsweredByKnob(L"SignOut", hr, result)) return hr;
  hr = store_.ClearSession(session);
  *result = SUCCEEDED(hr) ? kResultSuccess : kResultInvalidArgument;
  return SUCCEEDED(hr) ? S_OK : hr;
}

}  // namespace ZelService
