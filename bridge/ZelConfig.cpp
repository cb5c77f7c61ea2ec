#include "ZelConfig.h"

#include <cwchar>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "ComGuard.h"
#include "ConfigAccess.h"
#include "CreateInstanceViaFactory.h"
#include "Handles.h"
#include "LogInstance.h"
#include "ProductSettings.h"
#include "TarnLogHelper.h"

using ConfigAccess::FailureCode;
using ConfigAccess::kResultUnknown;
using ConfigAccess::Succeeded;
using ETWLogging::kLevelError;
using ETWLogging::kLevelNormal;
using ETWLogging::kLevelWarning;
using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kSource[] = L"ZelConfig";

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

void SetI4(VARIANT* target, long value) {
  V_VT(target) = VT_I4;
  V_I4(target) = value;
}

// Hands a copy of an owned VARIANT to a caller's out parameter, which holds nothing that needs
// freeing; the owned one is freed with its owner whatever happens.
HRESULT CopyOut(const CVariantValue& value, VARIANT* target) {
  ::VariantInit(target);
  return ::VariantCopy(target, const_cast<VARIANT*>(&value.Get()));
}

HRESULT ReturnBstr(const std::wstring& text, VARIANT* target) {
  BSTR copy = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (!copy) return E_OUTOFMEMORY;
  V_VT(target) = VT_BSTR;
  V_BSTR(target) = copy;
  return S_OK;
}

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

// Ends an enumerator that never says it is done.
constexpr int kMaxEnumeratedUsers = 10000;

HRESULT FindInEnumerator(IEnumVARIANT* users, BSTR wanted, ComPtr<IKyConfig>* found) {
  for (int fetchedUsers = 0; fetchedUsers < kMaxEnumeratedUsers; ++fetchedUsers) {
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

// ---- Platform users, as the list reports them ----

constexpr wchar_t kListFunction[] = L"CZelConfig::GetTARNUserList";
// Administrators, Users, Guests and Power Users: accounts outside them are not people.
constexpr const wchar_t* kRegularGroups[] = {L"S-1-5-32-544", L"S-1-5-32-545", L"S-1-5-32-546", L"S-1-5-32-547"};

struct PlatformUserEntry {
  std::wstring displayName;
  std::wstring logonName;
  bool flag = false;
};

template <typename Interface>
HRESULT CreatePlatformManager(ComPtr<Interface>& manager) {
  HRESULT hr = Ky::CreateInstanceViaFactory(CLSID_KyUserManager, Ky::kAnyClassContext, __uuidof(Interface),
                                            reinterpret_cast<void**>(manager.ReleaseAndGetAddressOf()));
  if (SUCCEEDED(hr) && !manager) return E_FAIL;
  return hr;
}

// The answer to a text query of a platform user: no text unless both the call and its result code
// succeeded.
struct TextAnswer {
  std::optional<std::wstring> text;
  HRESULT hr;
  long result;
};

template <typename Query>
TextAnswer QueryText(Query query) {
  LPWSTR text = nullptr;
  long result = kResultUnknown;
  HRESULT hr = query(&text, &result);
  Strata::UniqueCoTaskMem owned(text);
  if (!Succeeded(hr, result) || !text) return {std::nullopt, hr, result};
  return {std::wstring(text), hr, result};
}

// A number query of a platform user; nothing unless both the call and its result code succeeded.
template <typename Query>
std::optional<long> QueryNumber(Query query) {
  long number = 0;
  long result = kResultUnknown;
  HRESULT hr = query(&number, &result);
  if (!Succeeded(hr, result)) return std::nullopt;
  return number;
}

bool QueryFlag(IKyUser* user) {
  std::optional<long> kind = QueryNumber([&](long* n, long* r) { return user->GetUserType(n, r); });
  if (kind == CTarnUserHelper::kAdministratorKind)
    return QueryNumber([&](long* n, long* r) { return user->GetAdminFlag(n, r); }).value_or(0) != 0;
  return QueryNumber([&](long* n, long* r) { return user->GetUserFlag(n, r); }).value_or(0) == 1;
}

bool IsRegularGroup(BSTR sid) {
  if (!sid) return false;
  for (const wchar_t* group : kRegularGroups)
    if (std::wcscmp(sid, group) == 0) return true;
  return false;
}

// A user whose groups cannot be read is kept: only a user known to be outside them is left out.
bool IsRegularAccount(IKyUser* user) {
  SAFEARRAY* sids = nullptr;
  long result = kResultUnknown;
  HRESULT hr = user->GetGroupSids(&sids, &result);
  Strata::UniqueSafeArray owned(sids);
  VARTYPE type = VT_EMPTY;
  LONG lower = 0;
  LONG upper = -1;
  if (!Succeeded(hr, result) || !sids || ::SafeArrayGetDim(sids) != 1 || FAILED(::SafeArrayGetVartype(sids, &type)) ||
      type != VT_BSTR || FAILED(::SafeArrayGetLBound(sids, 1, &lower)) || FAILED(::SafeArrayGetUBound(sids, 1, &upper)))
    return true;
  if (upper < lower) return true;
  for (LONG index = lower; index <= upper; ++index) {
    BSTR sid = nullptr;
    if (FAILED(::SafeArrayGetElement(sids, &index, &sid))) continue;
    Strata::UniqueBstr ownedSid(sid);
    if (IsRegularGroup(sid)) return true;
  }
  return false;
}

void NoteListProgress(HRESULT hr, long result) {
  ZEL_LOG(kLevelNormal, kSource, kListFunction, L"CZelConfig::GetTARNUserList done while hr = %08x lResult =%08x", hr,
          result);
}

std::optional<PlatformUserEntry> Describe(IKyUser* user) {
  const TextAnswer logon = QueryText([&](LPWSTR* t, long* r) { return user->GetLogonName(t, r); });
  NoteListProgress(logon.hr, logon.result);
  const std::optional<std::wstring>& logonName = logon.text;
  if (!logonName || logonName->empty()) return std::nullopt;
  ZEL_LOG(kLevelNormal, kSource, kListFunction, L"CZelConfig::GetTARNUserList GetUserName name=[%s]",
          logonName->c_str());
  const TextAnswer display = QueryText([&](LPWSTR* t, long* r) { return user->GetDisplayName(t, r); });
  std::optional<std::wstring> displayName = display.text;
  if (!displayName || displayName->empty()) {
    ZEL_LOG(kLevelError, kSource, kListFunction, L"Unabled to get display name for user %s: hr=0x%08X, lResult=%d",
            logonName->c_str(), display.hr, display.result);
    displayName = logonName;
  }
  if (!IsRegularAccount(user)) {
    ZEL_LOG(kLevelNormal, kSource, kListFunction, L"%s does not appear as a regular windows user account, ignore it",
            logonName->c_str());
    return std::nullopt;
  }
  return PlatformUserEntry{*displayName, *logonName, QueryFlag(user)};
}

std::vector<PlatformUserEntry> ListRegularUsers(IKyUserManager* manager) {
  std::vector<PlatformUserEntry> users;
  ComPtr<IKyUserEnumerator> enumerator;
  long result = kResultUnknown;
  HRESULT hr = manager->EnumUsers(&enumerator, &result);
  ZEL_LOG(kLevelNormal, kSource, kListFunction, L"CZelConfig::GetTARNUserList EnumUsers hr = %08x lResult =%08x", hr,
          result);
  if (!Succeeded(hr, result) || !enumerator) return users;
  for (int fetched = 0; fetched < kMaxEnumeratedUsers; ++fetched) {
    ComPtr<IKyUser> user;
    result = kResultUnknown;
    hr = enumerator->Next(&user, &result);
    if (hr != S_OK || Ky::ResultError(result) != 0 || !user) break;
    if (std::optional<PlatformUserEntry> entry = Describe(user.Get())) users.push_back(std::move(*entry));
  }
  NoteListProgress(hr, result);
  return users;
}

// One entry of the user list: [display name, logon name, flag].
HRESULT PutUser(const CVariantValue& list, LONG index, const PlatformUserEntry& user) {
  CVariantValue entry;
  HRESULT hr = ConfigAccess::CreateVariantArray(3, &entry);
  CVariantValue displayName;
  CVariantValue logonName;
  if (SUCCEEDED(hr)) hr = ReturnBstr(user.displayName, displayName.Put());
  if (SUCCEEDED(hr)) hr = ReturnBstr(user.logonName, logonName.Put());
  VARIANT flag;
  V_VT(&flag) = VT_BOOL;
  V_BOOL(&flag) = user.flag ? VARIANT_TRUE : VARIANT_FALSE;
  if (SUCCEEDED(hr)) hr = ConfigAccess::PutElement(entry, 0, displayName.Get());
  if (SUCCEEDED(hr)) hr = ConfigAccess::PutElement(entry, 1, logonName.Get());
  if (SUCCEEDED(hr)) hr = ConfigAccess::PutElement(entry, 2, flag);
  if (SUCCEEDED(hr)) hr = ConfigAccess::PutElement(list, index, entry.Get());
  return hr;
}

// One entry of the category list: [name, number].
HRESULT PutCategory(const CVariantValue& list, LONG index, const std::wstring& name, long number) {
  CVariantValue entry;
  HRESULT hr = ConfigAccess::CreateVariantArray(2, &entry);
  if (FAILED(hr)) return hr;
  CVariantValue text;
  hr = ReturnBstr(name, text.Put());
  if (SUCCEEDED(hr)) hr = ConfigAccess::PutElement(entry, 0, text.Get());
  VARIANT value;
  SetI4(&value, number);
  if (SUCCEEDED(hr)) hr = ConfigAccess::PutElement(entry, 1, value);
  if (SUCCEEDED(hr)) hr = ConfigAccess::PutElement(list, index, entry.Get());
  return hr;
}

// The web proxy's acknowledgement that it has taken up a newly registered plug-in.
constexpr wchar_t kPluginAcknowledgedEvent[] = L"Local\\{117497F9-4481-DA00-7A12-89BAF027BCE3}";
constexpr DWORD kPluginAcknowledgementWaitMs = 10000;
constexpr wchar_t kPluginKey[] = L"Software\\Varant\\KyProxy\\Plugins\\{08533142-6DAA-40C0-829F-098475E66646}";

LSTATUS SetDword(HKEY key, const wchar_t* name, DWORD value) {
  return ::RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// The plug-in's registration with the web proxy; the Win32 code of the first step that failed.
LSTATUS WritePluginKey() {
  Strata::UniqueHkey key;
  LSTATUS status = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPluginKey, 0, nullptr, 0,
                                     KEY_READ | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  constexpr wchar_t kName[] = L"ZEL";
  status = ::RegSetValueExW(key.get(), L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(kName), sizeof(kName));
  if (status == ERROR_SUCCESS) status = SetDword(key.get(), L"LateInit", 0);
  if (status == ERROR_SUCCESS) status = SetDword(key.get(), L"Protocols", 1);
  return status;
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
  ZEL_LOG(kLevelWarning, kSource, L"CZelConfig::ServiceObject", L"ZEL gave RPC error 0x%08X\r\n", hr);
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
    ZEL_LOG(kLevelError, kSource, function.c_str(), object.serviceFailure, hr);
    return hr;
  }
  long result = kResultUnknown;
  hr = ReadServiceObject(service, object.objectId, *settings, &result);
  if (FAILED(hr)) {
    ZEL_LOG(level, kSource, function.c_str(), objectFailure, object.method, hr, object.objectName,
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
  ZEL_LOG(kLevelError, kSource, L"CZelConfig::GetAgeGroupConfigsValue",
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
  ZEL_LOG(kLevelNormal, kSource, function.c_str(), L"%s vItem = %d", object.method, item);

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
    ZEL_LOG(kLevelError, kSource, function.c_str(), L"%s vItem.lVal=%d pvValue->boolVal=%d lResult=%08x",
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
    ZEL_LOG(kLevelError, kSource, function, L"SetValue failed. item=%d hr=%08x *plResult=%08x", propertyId,
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
    ZEL_LOG(kLevelError, kSource, function.c_str(),
            L"%s vItem.lVal=%d vValue->boolVal=%d vt=%d VT_BOOL=%d lpResult=%08x", object.method, item,
            V_VT(&written) == VT_BOOL ? V_BOOL(&written) : 0, V_VT(&written), VT_BOOL, outcome.writeResult);
  }
  if (outcome.applied)
    ZEL_LOG(kLevelNormal, kSource, function.c_str(), L"%s Apply lpResult=%d", object.method, *result);
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
      ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to find user with the name \"%s\"\r\n",
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
        ZEL_LOG(kLevelError, kSource, kFunction,
                L"SetUserConfigValues SetValue failed. item=%d vValue.vt = %08x hr=%08x *plResult=%08x",
                propertyIds[i], V_VT(&values[i].Get()), hr, result);
        *plResult = FailureCode(hr, result);
        return S_OK;
      }
    }
    HRESULT hr = user->Apply(&result);
    if (!Succeeded(hr, result))
      ZEL_LOG(kLevelError, kSource, kFunction, L"SetUserConfigValues Apply failed.hr=%08x *plResult=%08x", hr, result);
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
        ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to apply changes to new user. hr = %08x result=%08x", hr,
                result);
    } else {
      ZEL_LOG(kLevelError, kSource, kFunction, L"Call to AddItem for new user failed. hr = %08x result=%08x", hr,
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
    return ReturnBstr(ProductSettings::ReadProductFolder(true).value_or(std::wstring()), pvarInstallDir);
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

// ---- Platform user list ----

STDMETHODIMP CZelConfig::GetTARNUserList(VARIANT* pUserList) {
  constexpr wchar_t kFunction[] = L"CZelConfig::GetTARNUserList";
  return GuardHResult([&] {
    ZEL_LOG(kLevelNormal, kSource, kFunction, L"CZelConfig::GetTARNUserList enter");
    if (!pUserList) return E_INVALIDARG;
    ::VariantInit(pUserList);
    ComPtr<IKyUserManager> manager;
    ComPtr<IKyUserAccountManager> accounts;
    HRESULT hr = CreatePlatformManager(manager);
    if (FAILED(hr)) {
      ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to create IKyUserManager hr=%08x", hr);
      return S_OK;
    }
    hr = CreatePlatformManager(accounts);
    if (FAILED(hr)) {
      ZEL_LOG(kLevelError, kSource, kFunction, L"Failed to create IKyUserAccountManager hr=%08x", hr);
      return S_OK;
    }
    std::vector<PlatformUserEntry> users = ListRegularUsers(manager.Get());
    if (users.empty()) {
      ZEL_LOG(kLevelWarning, kSource, kFunction, L"No user found!");
      return S_OK;
    }
    CVariantValue list;
    hr = ConfigAccess::CreateVariantArray(static_cast<ULONG>(users.size()), &list);
    for (LONG i = 0; SUCCEEDED(hr) && i < static_cast<LONG>(users.size()); ++i) hr = PutUser(list, i, users[i]);
    if (FAILED(hr)) return hr;
    return CopyOut(list, pUserList);
  });
}

// ---- Content categories ----

STDMETHODIMP CZelConfig::GetSupportedCategoryList(VARIANT* pCategoryList) {
  return GuardHResult([&] {
    if (!pCategoryList) return E_INVALIDARG;
    ::VariantInit(pCategoryList);
    std::map<std::wstring, long> categories;
    ProductSettings::ReadCategoryMap(&categories);
    if (categories.empty())
      ZEL_LOG(kLevelWarning, kSource, L"CZelConfig::GetSupportedCategoryList", L"No supported categories found!");
    CVariantValue list;
    HRESULT hr = ConfigAccess::CreateVariantArray(static_cast<ULONG>(categories.size()), &list);
    LONG index = 0;
    for (auto entry = categories.begin(); SUCCEEDED(hr) && entry != categories.end(); ++entry, ++index)
      hr = PutCategory(list, index, entry->first, entry->second);
    if (FAILED(hr)) return hr;
    return CopyOut(list, pCategoryList);
  });
}

// ---- Web proxy plug-in ----

STDMETHODIMP CZelConfig::RegisterZelPlugin(LONG* plResult) {
  return GuardHResult([&] {
    if (!plResult) return E_INVALIDARG;
    *plResult = ERROR_GEN_FAILURE;
    // Created before the registry is touched, and cleared: an acknowledgement left set by an
    // earlier registration must not stand for this one.
    Strata::UniqueHandle acknowledged(::CreateEventW(nullptr, TRUE, FALSE, kPluginAcknowledgedEvent));
    if (acknowledged) ::ResetEvent(acknowledged.get());
    *plResult = static_cast<LONG>(WritePluginKey());
    if (*plResult != ERROR_SUCCESS || !acknowledged) return S_OK;
    switch (::WaitForSingleObject(acknowledged.get(), kPluginAcknowledgementWaitMs)) {
      case WAIT_OBJECT_0:
        break;
      case WAIT_TIMEOUT:
        *plResult = ERROR_TIMEOUT;
        break;
      default:
        *plResult = static_cast<LONG>(::GetLastError());
        break;
    }
    return S_OK;
  });
}

STDMETHODIMP CZelConfig::IsZelPluginRegistered(VARIANT_BOOL* pbResult) {
  return GuardHResult([&] { return ::IsZelPluginRegistered(pbResult); });
}
