#include "ZelConfig.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CategoryList.h"
#include "ComGuard.h"
#include "ConfigAccess.h"
#include "Handles.h"
#include "LogInstance.h"
#include "PlatformUserList.h"
#include "ProductSettings.h"
#include "ScriptAnswers.h"
#include "TarnLogHelper.h"
#include "ZelPlugin.h"

using ConfigAccess::FailureCode;
using ConfigAccess::kLogSource;
using ConfigAccess::kResultUnknown;
using ConfigAccess::Succeeded;
using ETWLogging::kLevelError;
using ETWLogging::kLevelNormal;
using ETWLogging::kLevelWarning;
using Microsoft::WRL::ComPtr;
using ScriptAnswers::CopyOut;
using ScriptAnswers::SetI4;

namespace {

constexpr long kGlobalSettings = 100;
constexpr long kUsersCollection = 102;
constexpr long kAdminSettings = 109;
constexpr long kAgeGroups = 110;
constexpr long kUserName = 200;
constexpr long kAgeGroupSelection = 200;
constexpr long kAdminPassword = 202;
constexpr long kSecurityAnswer = 205;
constexpr long kUserProtected = 315;
// Every platform user the configuration object reports is of the administrator kind.
constexpr long kReportedUserKind = 1;

std::wstring FunctionName(const wchar_t* method) { return std::wstring(L"CZelConfig::") + method; }

// The system's lower-casing of a whole name, as the service's users are compared.
HRESULT LowerCased(const wchar_t* text, UINT length, Strata::UniqueBstr* lowered) {
  lowered->reset(::SysAllocStringLen(text, length));
  if (!lowered->get()) return E_OUTOFMEMORY;
  if (length) ::CharLowerBuffW(lowered->get(), length);
  return S_OK;
}

bool NameMatches(IKyConfig* user, BSTR wanted) {
  CVariantValue name;
  long result = kResultUnknown;
  HRESULT hr = user->GetValue(kUserName, name.Put(), &result);
  if (!Succeeded(hr, result) || V_VT(&name.Get()) != VT_BSTR) return false;
  BSTR stored = V_BSTR(&name.Get());
  Strata::UniqueBstr storedLower;
  if (FAILED(LowerCased(stored, ::SysStringLen(stored), &storedLower))) return false;
  return ::VarBstrCmp(storedLower.get(), wanted, LOCALE_USER_DEFAULT, 0) == static_cast<HRESULT>(VARCMP_EQ);
}

HRESULT FindInEnumerator(IEnumVARIANT* users, BSTR wanted, ComPtr<IKyConfig>* found) {
  for (int fetchedUsers = 0; fetchedUsers < ConfigAccess::kMaxEnumeratedUsers; ++fetchedUsers) {
    CVariantValue item;
    ULONG fetched = 0;
    if (users->Next(1, item.Put(), &fetched) != S_OK || fetched != 1) return E_FAIL;
    ComPtr<IKyConfig> user;
    if (SUCCEEDED(ConfigAccess::QueryHeld(item.Get(), user)) && NameMatches(user.Get(), wanted)) {
      *found = std::move(user);
      return S_OK;
    }
  }
  return E_FAIL;
}

}  // namespace

HRESULT CZelConfig::Create(REFIID iid, void** object) { return CreateInstance<CZelConfig>(iid, object); }

HRESULT CZelConfig::FinalConstruct() noexcept {
  return GuardHResult([this] {
    userHelper_ = std::make_unique<CTarnUserHelper>();
    zelHelper_ = std::make_unique<CZelHelper>();
    return S_OK;
  });
}

HRESULT CZelConfig::GetService(ComPtr<IKyGSService>* service) {
  HRESULT hr = zelHelper_->GetConfig(service->ReleaseAndGetAddressOf());
  if (SUCCEEDED(hr) && !service->Get()) return E_FAIL;
  return hr;
}

template <typename Interface>
HRESULT CZelConfig::ReadServiceObject(ComPtr<IKyGSService>& service, long id, ComPtr<Interface>& object,
                                      long* result) {
  HRESULT hr = ConfigAccess::GetServiceObject(service.Get(), id, object, result);
  if (!IsRpcFailure(hr)) return hr;
  ZEL_LOG(kLevelWarning, kLogSource, L"CZelConfig::ServiceObject", L"ZEL gave RPC error 0x%08X\r\n", hr);
  const ComPtr<IKyGSService> failed = std::move(service);
  hr = zelHelper_->Reconnect(failed.Get(), service.GetAddressOf());
  if (FAILED(hr)) return hr;
  return ConfigAccess::GetServiceObject(service.Get(), id, object, result);
}

template <typename Interface>
HRESULT CZelConfig::ServiceObject(long id, ComPtr<Interface>& object) {
  ComPtr<IKyGSService> service;
  HRESULT hr = GetService(&service);
  if (FAILED(hr)) return hr;
  long result = kResultUnknown;
  return ReadServiceObject(service, id, object, &result);
}

HRESULT CZelConfig::findUser(BSTR name, ConfigPtr* user) {
  const UINT length = ::SysStringLen(name);
  if (length == 0) return E_FAIL;
  Strata::UniqueBstr wanted;
  HRESULT hr = LowerCased(name, length, &wanted);
  if (FAILED(hr)) return hr;
  ComPtr<IKyGSConfigCollection> collection;
  hr = ServiceObject(kUsersCollection, collection);
  if (FAILED(hr)) return hr;
  ComPtr<IUnknown> enumerator;
  hr = collection->GetEnumerator(&enumerator);
  if (FAILED(hr)) return hr;
  if (!enumerator) return E_FAIL;
  ComPtr<IEnumVARIANT> users;
  hr = enumerator.As(&users);
  if (FAILED(hr)) return hr;
  return FindInEnumerator(users.Get(), wanted.get(), user);
}

// ---- Settings readers and writers ----

HRESULT CZelConfig::GetSettingsObject(const SettingsObject& object, const wchar_t* objectFailure, DWORD level,
                                      ConfigPtr* settings) {
  const std::wstring function = FunctionName(object.method);
  ComPtr<IKyGSService> service;
  HRESULT hr = GetService(&service);
  if (FAILED(hr)) {
    ZEL_LOG(kLevelError, kLogSource, function.c_str(), object.serviceFailure, hr);
    return hr;
  }
  long result = kResultUnknown;
  hr = ReadServiceObject(service, object.objectId, *settings, &result);
  if (FAILED(hr)) {
    ZEL_LOG(level, kLogSource, function.c_str(), objectFailure, object.method, hr, object.objectName,
            static_cast<unsigned>(reinterpret_cast<UINT_PTR>(settings->Get())), result, Ky::ResultError(result));
  }
  return hr;
}

bool CZelConfig::SelectAgeGroup(IKyConfig* ageGroups, long ageGroup, HRESULT* hr) {
  VARIANT selection;
  SetI4(&selection, ageGroup);
  long result = kResultUnknown;
  *hr = ageGroups->SetValue(kAgeGroupSelection, selection, &result);
  if (Succeeded(*hr, result)) return true;
  ZEL_LOG(kLevelError, kLogSource, L"CZelConfig::GetAgeGroupConfigsValue",
          L"GetAgeGroupConfigsValue failed to select age group hr= %08x, lResult=%08x", *hr, result);
  return false;
}

HRESULT CZelConfig::ReadSetting(const SettingsObject& object, const long* ageGroup, const VARIANT& vItem,
                                VARIANT* pvResult, VARIANT* pvValue) {
  const std::wstring function = FunctionName(object.method);
  if (!pvResult || !pvValue) return E_INVALIDARG;
  ::VariantInit(pvValue);
  HRESULT hr = ::VariantClear(pvResult);
  if (FAILED(hr)) return hr;
  SetI4(pvResult, kResultUnknown);
  long item = 0;
  if (FAILED(ConfigAccess::ToLong(vItem, &item))) return E_INVALIDARG;
  ZEL_LOG(kLevelNormal, kLogSource, function.c_str(), L"%s vItem = %d", object.method, item);

  ConfigPtr settings;
  hr = GetSettingsObject(object, L"%s hr = %08x %s = %08x, lResult = %08x KY_ERROR(lResult) = %d ", kLevelWarning,
                         &settings);
  if (FAILED(hr)) return hr;
  // A refused select answers with its own HRESULT, and the result code stays "unknown".
  if (ageGroup && !SelectAgeGroup(settings.Get(), *ageGroup, &hr)) return hr;
  CVariantValue value;
  long result = kResultUnknown;
  hr = settings->GetValue(item, value.Put(), &result);
  if (FAILED(hr)) {
    ZEL_LOG(kLevelError, kLogSource, function.c_str(), L"%s vItem.lVal=%d pvValue->boolVal=%d lResult=%08x",
            object.method, item, V_VT(&value.Get()) == VT_BOOL ? V_BOOL(&value.Get()) : 0, result);
  }
  V_I4(pvResult) = FailureCode(hr, result);
  if (FAILED(hr)) return hr;
  return CopyOut(value, pvValue);
}

CZelConfig::WriteOutcome CZelConfig::WriteAndApply(IKyConfig* object, long propertyId, const VARIANT& value,
                                                   bool apply, long* result) {
  WriteOutcome outcome;
  *result = kResultUnknown;
  outcome.written = object->SetValue(propertyId, value, result);
  outcome.writeResult = *result;
  if (!Succeeded(outcome.written, *result)) {
    *result = FailureCode(outcome.written, *result);
    return outcome;
  }
  if (!apply) return outcome;
  const HRESULT applied = object->Apply(result);
  outcome.applied = true;
  *result = FailureCode(applied, *result);
  return outcome;
}

void CZelConfig::NoteFailedUserWrite(const wchar_t* function, long propertyId, const WriteOutcome& outcome) {
  if (FAILED(outcome.written) && Ky::ResultError(outcome.writeResult) == 0) {
    ZEL_LOG(kLevelError, kLogSource, function, L"SetValue failed. item=%d hr=%08x *plResult=%08x", propertyId,
            outcome.written, outcome.writeResult);
  }
}

HRESULT CZelConfig::WriteSetting(const SettingsObject& object, const VARIANT& vItem, const VARIANT& vValue, bool apply,
                                 long* result) {
  const std::wstring function = FunctionName(object.method);
  if (!result) return E_INVALIDARG;
  *result = kResultUnknown;
  long item = 0;
  if (FAILED(ConfigAccess::ToLong(vItem, &item))) return E_INVALIDARG;
  CVariantValue value;
  HRESULT hr = ConfigAccess::CopyResolved(vValue, &value);
  if (FAILED(hr)) return hr;

  ConfigPtr settings;
  hr = GetSettingsObject(object, L"%s hr = %08x %s = %08x, lpResult = %08x KY_ERROR(lpResult) = %d ", kLevelError,
                         &settings);
  if (FAILED(hr)) return S_OK;
  const WriteOutcome outcome = WriteAndApply(settings.Get(), item, value.Get(), apply, result);
  const VARIANT& written = value.Get();
  if (FAILED(outcome.written)) {
    ZEL_LOG(kLevelError, kLogSource, function.c_str(),
            L"%s vItem.lVal=%d vValue->boolVal=%d vt=%d VT_BOOL=%d lpResult=%08x", object.method, item,
            V_VT(&written) == VT_BOOL ? V_BOOL(&written) : 0, V_VT(&written), VT_BOOL, outcome.writeResult);
  }
  if (outcome.applied)
    ZEL_LOG(kLevelNormal, kLogSource, function.c_str(), L"%s Apply lpResult=%d", object.method, *result);
  return S_OK;
}

STDMETHODIMP CZelConfig::GetGlobalConfigsValue(VARIANT vItem, VARIANT* pvResult, VARIANT* pvValue) {
  static constexpr SettingsObject kReader{L"GetGlobalConfigsValue", kGlobalSettings,
                                          L"GetGlobalConfigsValue KyI2 hr = %08x", L"ppGlobalConfigs"};
  return GuardHResult([&] { return ReadSetting(kReader, nullptr, vItem, pvResult, pvValue); });
}

STDMETHODIMP CZelConfig::GetAdminSettingsConfigValue(VARIANT vItem, VARIANT* pvResult, VARIANT* pvValue) {
  static constexpr SettingsObject kReader{L"GetAdminSettingsConfigValue", kAdminSettings,
                                          L"GetAdminSettingsConfigValue hr = %08x", L"ppAdminSettings"};
  return GuardHResult([&] { return ReadSetting(kReader, nullptr, vItem, pvResult, pvValue); });
}

STDMETHODIMP CZelConfig::GetAgeGroupConfigsValue(LONG lAgeGroup, VARIANT vItem, VARIANT* pvResult, VARIANT* pvValue) {
  static constexpr SettingsObject kReader{L"GetAgeGroupConfigsValue", kAgeGroups, L"GetAgeGroupConfigsValue hr = %08x",
                                          L"ppAgeGroupConfigs"};
  const long ageGroup = lAgeGroup;
  return GuardHResult([&] { return ReadSetting(kReader, &ageGroup, vItem, pvResult, pvValue); });
}

STDMETHODIMP CZelConfig::SetGlobalConfigsValue(VARIANT vItem, VARIANT vValue, LONG* lpResult) {
  static constexpr SettingsObject kWriter{L"SetGlobalConfigsValue", kGlobalSettings,
                                          L"SetGlobalConfigsValue KyI2 hr = %08x", L"ppGlobalConfigs"};
  return GuardHResult([&] { return WriteSetting(kWriter, vItem, vValue, true, lpResult); });
}

HRESULT CZelConfig::_SetAdminSettingsConfigValue(VARIANT vItem, VARIANT vValue, long* plResult, VARIANT_BOOL bApply) {
  static constexpr SettingsObject kWriter{L"_SetAdminSettingsConfigValue", kAdminSettings,
                                          L"_SetAdminSettingsConfigValue hr = %08x", L"ppAdminSettings"};
  return GuardHResult([&] { return WriteSetting(kWriter, vItem, vValue, bApply != VARIANT_FALSE, plResult); });
}

STDMETHODIMP CZelConfig::SetAdminSettingsConfigValue(VARIANT vItem, VARIANT vValue, LONG* lpResult) {
  return _SetAdminSettingsConfigValue(vItem, vValue, lpResult, VARIANT_TRUE);
}

// ---- Password and security answer ----

// The service validates what is written to these items; nothing is applied, stored or compared
// here, and only a write the service verifiably accepted counts as a match.
HRESULT CZelConfig::VerifySecret(long item, BSTR text, VARIANT_BOOL* verified) {
  if (!verified) return E_INVALIDARG;
  *verified = VARIANT_FALSE;
  VARIANT itemValue;
  SetI4(&itemValue, item);
  VARIANT secret;
  V_VT(&secret) = VT_BSTR;
  V_BSTR(&secret) = text;
  long result = kResultUnknown;
  HRESULT hr = _SetAdminSettingsConfigValue(itemValue, secret, &result, VARIANT_FALSE);
  if (Succeeded(hr, result)) *verified = VARIANT_TRUE;
  return S_OK;
}

STDMETHODIMP CZelConfig::VerifyAdminPassword(BSTR strPassword, VARIANT_BOOL* pbResult) {
  return GuardHResult([&] { return VerifySecret(kAdminPassword, strPassword, pbResult); });
}

STDMETHODIMP CZelConfig::VerifyAdminSecurityAnswer(BSTR strSecurityAnswer, VARIANT_BOOL* pbResult) {
  return GuardHResult([&] { return VerifySecret(kSecurityAnswer, strSecurityAnswer, pbResult); });
}

STDMETHODIMP CZelConfig::IsAdminPasswordAbsent(VARIANT_BOOL* pbResult) {
  if (!pbResult) return E_INVALIDARG;
  *pbResult = VARIANT_FALSE;
  Strata::UniqueBstr empty(::SysAllocString(L""));
  if (!empty) return E_OUTOFMEMORY;
  return VerifyAdminPassword(empty.get(), pbResult);
}

// ---- Service users ----

STDMETHODIMP CZelConfig::GetUserConfigValue(BSTR strName, LONG lPropertyID, VARIANT* pvValue) {
  return GuardHResult([&] {
    if (!pvValue) return E_INVALIDARG;
    ::VariantInit(pvValue);
    ConfigPtr user;
    if (FAILED(findUser(strName, &user))) return S_OK;
    CVariantValue value;
    long result = kResultUnknown;
    HRESULT hr = user->GetValue(lPropertyID, value.Put(), &result);
    return Succeeded(hr, result) ? CopyOut(value, pvValue) : S_OK;
  });
}

STDMETHODIMP CZelConfig::SetUserConfigValue(BSTR strName, LONG lPropertyID, VARIANT vValue, LONG* plResult) {
  return GuardHResult([&] {
    if (!plResult) return E_INVALIDARG;
    *plResult = kResultUnknown;
    CVariantValue value;
    HRESULT hr = ConfigAccess::CopyResolved(vValue, &value);
    if (FAILED(hr)) return hr;
    ConfigPtr user;
    if (FAILED(findUser(strName, &user))) return S_OK;
    long result = kResultUnknown;
    NoteFailedUserWrite(L"CZelConfig::SetUserConfigValue", lPropertyID,
                        WriteAndApply(user.Get(), lPropertyID, value.Get(), true, &result));
    *plResult = result;
    return S_OK;
  });
}

STDMETHODIMP CZelConfig::SetUserConfigValues(BSTR strName, VARIANT arrProperties, VARIANT arrValues, LONG lNumChanges,
                                             LONG* plResult) {
  constexpr wchar_t kFunction[] = L"CZelConfig::SetUserConfigValues";
  return GuardHResult([&] {
    if (!plResult) return E_INVALIDARG;
    *plResult = kResultUnknown;
    if (ConfigAccess::IsMissing(arrProperties) || ConfigAccess::IsMissing(arrValues)) return S_OK;
    // Everything is read and checked before the first write, so a bad element leaves the user as it was.
    std::vector<CVariantValue> properties;
    std::vector<CVariantValue> values;
    if (FAILED(ConfigAccess::ReadScriptArray(arrProperties, lNumChanges, &properties)) ||
        FAILED(ConfigAccess::ReadScriptArray(arrValues, lNumChanges, &values)))
      return E_INVALIDARG;
    std::vector<long> propertyIds(properties.size());
    for (size_t i = 0; i < properties.size(); ++i)
      if (FAILED(ConfigAccess::ToLong(properties[i].Get(), &propertyIds[i]))) return E_INVALIDARG;

    ConfigPtr user;
    if (FAILED(findUser(strName, &user))) {
      ZEL_LOG(kLevelError, kLogSource, kFunction, L"Failed to find user with the name \"%s\"\r\n",
              strName ? strName : L"");
      return S_FALSE;
    }
    // Unapplied writes stay with this user object and go with it, so a failed write leaves nothing.
    long result = kResultUnknown;
    for (size_t i = 0; i < propertyIds.size(); ++i) {
      CVariantValue value;
      HRESULT hr = ConfigAccess::CopyResolved(values[i].Get(), &value);
      if (SUCCEEDED(hr)) hr = user->SetValue(propertyIds[i], value.Get(), &result);
      if (!Succeeded(hr, result)) {
        ZEL_LOG(kLevelError, kLogSource, kFunction,
                L"SetUserConfigValues SetValue failed. item=%d vValue.vt = %08x hr=%08x *plResult=%08x",
                propertyIds[i], V_VT(&values[i].Get()), hr, result);
        *plResult = FailureCode(hr, result);
        return S_OK;
      }
    }
    HRESULT hr = user->Apply(&result);
    if (!Succeeded(hr, result))
      ZEL_LOG(kLevelError, kLogSource, kFunction, L"SetUserConfigValues Apply failed.hr=%08x *plResult=%08x", hr,
              result);
    *plResult = FailureCode(hr, result);
    return S_OK;
  });
}

STDMETHODIMP CZelConfig::DoesUserExist(BSTR strName, LONG* plResult) {
  return GuardHResult([&] {
    if (!plResult) return E_INVALIDARG;
    *plResult = 0;
    ConfigPtr user;
    if (SUCCEEDED(findUser(strName, &user))) *plResult = 1;
    return S_OK;
  });
}

STDMETHODIMP CZelConfig::IsUserProtected(BSTR strName, VARIANT_BOOL* pbResult) {
  return GuardHResult([&] {
    if (!pbResult) return E_INVALIDARG;
    *pbResult = VARIANT_FALSE;
    ConfigPtr user;
    if (FAILED(findUser(strName, &user))) return S_OK;
    CVariantValue value;
    long result = kResultUnknown;
    HRESULT hr = user->GetValue(kUserProtected, value.Put(), &result);
    if (Succeeded(hr, result) && V_VT(&value.Get()) == VT_BOOL && V_BOOL(&value.Get()) != VARIANT_FALSE)
      *pbResult = VARIANT_TRUE;
    return S_OK;
  });
}

STDMETHODIMP CZelConfig::SetUserProtected(BSTR strName, VARIANT_BOOL bProtected, LONG* lpResult) {
  VARIANT value;
  V_VT(&value) = VT_BOOL;
  V_BOOL(&value) = bProtected ? VARIANT_TRUE : VARIANT_FALSE;
  return SetUserConfigValue(strName, kUserProtected, value, lpResult);
}

STDMETHODIMP CZelConfig::CreateNewZelUser(BSTR strName, LONG* plResult) {
  constexpr wchar_t kFunction[] = L"CZelConfig::CreateNewZelUser";
  return GuardHResult([&] {
    if (!plResult) return E_INVALIDARG;
    *plResult = kResultUnknown;
    ComPtr<IKyGSConfigCollection> users;
    if (FAILED(ServiceObject(kUsersCollection, users))) return S_OK;
    CVariantValue item;
    long result = kResultUnknown;
    HRESULT hr = users->CreateItem(item.Put(), &result);
    ConfigPtr user;
    if (!Succeeded(hr, result) || FAILED(ConfigAccess::QueryHeld(item.Get(), user))) {
      *plResult = FailureCode(FAILED(hr) ? hr : E_FAIL, result);
      return S_OK;
    }
    VARIANT name;
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = strName;
    // A user without its name would be a nameless account: it is neither added nor applied.
    NoteFailedUserWrite(kFunction, kUserName, WriteAndApply(user.Get(), kUserName, name, false, &result));
    if (Ky::ResultError(result) != 0) {
      *plResult = result;
      return S_OK;
    }
    VARIANT added;
    V_VT(&added) = VT_UNKNOWN;
    V_UNKNOWN(&added) = user.Get();
    hr = users->Add(added, &result);
    if (Succeeded(hr, result)) {
      hr = users->Apply(&result);
      if (!Succeeded(hr, result))
        ZEL_LOG(kLevelError, kLogSource, kFunction, L"Failed to apply changes to new user. hr = %08x result=%08x", hr,
                result);
    } else {
      ZEL_LOG(kLevelError, kLogSource, kFunction, L"Call to AddItem for new user failed. hr = %08x result=%08x", hr,
              result);
    }
    *plResult = FailureCode(hr, result);
    return S_OK;
  });
}

// ---- Folders ----

STDMETHODIMP CZelConfig::GetInstallDir(VARIANT* pvarInstallDir) {
  return GuardHResult([&] {
    if (!pvarInstallDir) return E_INVALIDARG;
    ::VariantInit(pvarInstallDir);
    return ScriptAnswers::ReturnBstr(ProductSettings::ReadProductFolder(true).value_or(std::wstring()), pvarInstallDir);
  });
}

STDMETHODIMP CZelConfig::GetResourceDir(VARIANT* pvarResourceDir) { return GetInstallDir(pvarResourceDir); }

// ---- Platform users ----

HRESULT CZelConfig::PlatformUser(DWORD session, VARIANT* name, VARIANT* kind, VARIANT* startup, LONG* plResult) {
  if (!name) return E_POINTER;
  if (!plResult) return E_INVALIDARG;
  CVariantValue userName;
  CVariantValue userKind;
  CVariantValue startupFlag;
  bool loggedOn = true;
  HRESULT hr = userHelper_->GetLoggedOnUserVariants(session, userName.Put(), userKind.Put(), startupFlag.Put(),
                                                    &loggedOn);
  if (hr != S_OK) return loggedOn ? E_FAIL : E_PENDING;
  hr = CopyOut(userName, name);
  if (SUCCEEDED(hr) && startup) hr = CopyOut(startupFlag, startup);
  if (FAILED(hr)) return hr;
  if (kind) {
    ::VariantInit(kind);
    SetI4(kind, kReportedUserKind);
  }
  *plResult = 0;
  return S_OK;
}

STDMETHODIMP CZelConfig::GetCurrentTarnUserNameAndType(VARIANT* pvarCurrentUserName, VARIANT* pvarCurrentUserType,
                                                       VARIANT* pvarIsStartupUser, LONG* plResult) {
  return GuardHResult([&] {
    return PlatformUser(getSessionId(), pvarCurrentUserName, pvarCurrentUserType, pvarIsStartupUser, plResult);
  });
}

STDMETHODIMP CZelConfig::GetSessionCurrentTarnUserNameAndType(ULONG idSession, VARIANT* pvarCurrentUserName,
                                                              LONG* plResult) {
  return GuardHResult([&] { return PlatformUser(idSession, pvarCurrentUserName, nullptr, nullptr, plResult); });
}

// ---- Platform user list, content categories, web proxy plug-in ----

STDMETHODIMP CZelConfig::GetTARNUserList(VARIANT* pUserList) {
  return GuardHResult([&] { return PlatformUserList::Read(pUserList); });
}

STDMETHODIMP CZelConfig::GetSupportedCategoryList(VARIANT* pCategoryList) {
  return GuardHResult([&] { return CategoryList::Read(pCategoryList); });
}

STDMETHODIMP CZelConfig::RegisterZelPlugin(LONG* plResult) {
  return GuardHResult([&] {
    if (!plResult) return E_INVALIDARG;
    *plResult = ::RegisterZelPlugin();
    return S_OK;
  });
}

STDMETHODIMP CZelConfig::IsZelPluginRegistered(VARIANT_BOOL* pbResult) {
  return GuardHResult([&] { return ::IsZelPluginRegistered(pbResult); });
}
