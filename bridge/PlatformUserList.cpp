#include "PlatformUserList.h"

#include <cwchar>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <wrl/client.h>

#include "ConfigAccess.h"
#include "CreateInstanceViaFactory.h"
#include "Handles.h"
#include "KyUserManager.h"
#include "LogInstance.h"
#include "ScriptAnswers.h"
#include "TarnUserHelper.h"

using ConfigAccess::kLogSource;
using ConfigAccess::kResultUnknown;
using ConfigAccess::Succeeded;
using ETWLogging::kLevelError;
using ETWLogging::kLevelNormal;
using Microsoft::WRL::ComPtr;

namespace {

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
  ZEL_LOG(kLevelNormal, kLogSource, kListFunction, L"CZelConfig::GetTARNUserList done while hr = %08x lResult =%08x",
          hr, result);
}

std::optional<PlatformUserEntry> Describe(IKyUser* user) {
  const TextAnswer logon = QueryText([&](LPWSTR* t, long* r) { return user->GetLogonName(t, r); });
  NoteListProgress(logon.hr, logon.result);
  const std::optional<std::wstring>& logonName = logon.text;
  if (!logonName || logonName->empty()) return std::nullopt;
  ZEL_LOG(kLevelNormal, kLogSource, kListFunction, L"CZelConfig::GetTARNUserList GetUserName name=[%s]",
          logonName->c_str());
  const TextAnswer display = QueryText([&](LPWSTR* t, long* r) { return user->GetDisplayName(t, r); });
  std::optional<std::wstring> displayName = display.text;
  if (!displayName || displayName->empty()) {
    ZEL_LOG(kLevelError, kLogSource, kListFunction, L"Unabled to get display name for user %s: hr=0x%08X, lResult=%d",
            logonName->c_str(), display.hr, display.result);
    displayName = logonName;
  }
  if (!IsRegularAccount(user)) {
    ZEL_LOG(kLevelNormal, kLogSource, kListFunction, L"%s does not appear as a regular windows user account, ignore it",
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
  ZEL_LOG(kLevelNormal, kLogSource, kListFunction, L"CZelConfig::GetTARNUserList EnumUsers hr = %08x lResult =%08x", hr,
          result);
  if (!Succeeded(hr, result) || !enumerator) return users;
  for (int fetched = 0; fetched < ConfigAccess::kMaxEnumeratedUsers; ++fetched) {
    ComPtr<IKyUser> user;
    result = kResultUnknown;
    hr = enumerator->Next(&user, &result);
    if (hr != S_OK || Ky::ResultError(result) != 0 || !user) break;
    if (std::optional<PlatformUserEntry> entry = Describe(user.Get())) users.push_back(std::move(*entry));
  }
  NoteListProgress(hr, result);
  return users;
}

}  // namespace

namespace PlatformUserList {

HRESULT Read(VARIANT* list) {
  ZEL_LOG(kLevelNormal, kLogSource, kListFunction, L"CZelConfig::GetTARNUserList enter");
  if (!list) return E_INVALIDARG;
  ::VariantInit(list);
  ComPtr<IKyUserManager> manager;
  ComPtr<IKyUserAccountManager> accounts;
  HRESULT hr = CreatePlatformManager(manager);
  if (FAILED(hr)) {
    ZEL_LOG(kLevelError, kLogSource, kListFunction, L"Failed to create IKyUserManager hr=%08x", hr);
    return S_OK;
  }
  hr = CreatePlatformManager(accounts);
  if (FAILED(hr)) {
    ZEL_LOG(kLevelError, kLogSource, kListFunction, L"Failed to create IKyUserAccountManager hr=%08x", hr);
    return S_OK;
  }
  std::vector<PlatformUserEntry> users = ListRegularUsers(manager.Get());
  if (users.empty()) {
    ZEL_LOG(ETWLogging::kLevelWarning, kLogSource, kListFunction, L"No user found!");
    return S_OK;
  }
  std::vector<ScriptAnswers::Row> rows;
  rows.reserve(users.size());
  for (const PlatformUserEntry& user : users) rows.push_back({user.displayName, user.logonName, user.flag});
  return ScriptAnswers::ReturnRows(rows, list);
}

}  // namespace PlatformUserList
