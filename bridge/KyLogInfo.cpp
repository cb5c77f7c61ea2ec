#include "KyLogInfo.h"

#include "FormatText.h"
#include "RecordText.h"

using Strata::Format;

namespace {

const wchar_t* OrNullText(const wchar_t* text) { return text ? text : L"(null)"; }

std::wstring GuidText(const GUID* guid) {
  if (!guid) return L"(null)";
  wchar_t text[40] = {};
  ::StringFromGUID2(*guid, text, ARRAYSIZE(text));
  return text;
}

void AppendAction(const tagKYLOG_ACTION& action, std::wstring* dump) {
  *dump += Format(L"\r\npAction->dwActionCount = %d", action.dwActionCount);
  if (action.pdwActionID) {
    for (DWORD i = 0; i < action.dwActionCount; ++i)
      *dump += Format(L"\r\npAction->pdwActionID[%d] = %d", i, action.pdwActionID[i]);
  }
  *dump += Format(L"\r\npAction->bAdminRequired = %d", action.bAdminRequired);
  *dump += Format(L"\r\npAction->pwszUserName = \"%s\"", OrNullText(action.pwszUserName));
  *dump += Format(L"\r\npAction->pclsidAction = \"%s\"", GuidText(action.pclsidAction).c_str());
}

}  // namespace

CKyLogInfo::CKyLogInfo(const wchar_t* category, DWORD detailsTemplateId, DWORD fieldCount, DWORD detailsCount,
                       DWORD actionIdCount)
    : fields_(fieldCount), details_(detailsCount), action_(1), actionIds_(actionIdCount), actionClass_(1) {
  tagKYLOG_INFO& info = Info();
  info.pwszLogCategoryID = KeepText(category);
  info.bViewByTARNAdminOnly = TRUE;
  info.dwFieldCount = fields_.Count();
  info.pFields = fields_.Get();
  info.dwDetailsTemplateID = detailsTemplateId;
  info.dwDetailsDataCount = details_.Count();
  info.pDetailsData = details_.Get();
  info.pAction = nullptr;
  if ((fieldCount && !fields_.Get()) || (detailsCount && !details_.Get())) Fail(E_OUTOFMEMORY);
}

void CKyLogInfo::SetField(DWORD index, DWORD fieldId, const wchar_t* text) {
  if (index >= fields_.Count() || !fields_.Get()) return;
  tagKYLOG_FIELD& field = fields_.Get()[index];
  field.dwFieldID = fieldId;
  field.pwszData = KeepText(text);
}

void CKyLogInfo::SetDetail(DWORD index, const wchar_t* token, const wchar_t* value) {
  if (index >= details_.Count() || !details_.Get()) return;
  tagKYLOG_DETAILS_DATA& detail = details_.Get()[index];
  detail.pwszToken = KeepText(token);
  detail.pwszValue = KeepText(value);
}

tagKYLOG_INFO* CKyLogInfo::Detach() {
  tagKYLOG_INFO& info = Info();
  std::unordered_set<const wchar_t*> referenced{info.pwszLogCategoryID};
  for (DWORD i = 0; info.pFields && i < info.dwFieldCount; ++i) referenced.insert(info.pFields[i].pwszData);
  for (DWORD i = 0; info.pDetailsData && i < info.dwDetailsDataCount; ++i) {
    referenced.insert(info.pDetailsData[i].pwszToken);
    referenced.insert(info.pDetailsData[i].pwszValue);
  }
  DetachStrings(referenced);
  fields_.Detach();
  details_.Detach();
  return &info;
}

std::wstring CKyLogInfo::Dump() const {
  const tagKYLOG_INFO& info = Info();
  std::wstring dump;
  dump += Format(L"\r\npwszLogCategoryID = \"%s\"", OrNullText(info.pwszLogCategoryID));
  dump += Format(L"\r\nbViewByTARNAdminOnly = %d", info.bViewByTARNAdminOnly);
  dump += Format(L"\r\ndwFieldCount = %d", info.dwFieldCount);
  for (DWORD i = 0; info.pFields && i < info.dwFieldCount; ++i) {
    dump += Format(L"\r\npFields[%d].dwFieldID = %d", i, info.pFields[i].dwFieldID);
    dump += Format(L"\r\npFields[%d].pwszData = \"%s\"", i, OrNullText(info.pFields[i].pwszData));
  }
  dump += Format(L"\r\ndwDetailsTemplateID = %d", info.dwDetailsTemplateID);
  dump += Format(L"\r\ndwDetailsDataCount = %d", info.dwDetailsDataCount);
  for (DWORD i = 0; info.pDetailsData && i < info.dwDetailsDataCount; ++i) {
    dump += Format(L"\r\npDetailsData[%d].pwszToken = \"%s\"", i, OrNullText(info.pDetailsData[i].pwszToken));
    dump += Format(L"\r\npDetailsData[%d].pwszValue = \"%s\"", i, OrNullText(info.pDetailsData[i].pwszValue));
  }
  if (info.pAction) AppendAction(*info.pAction, &dump);
  return dump;
}

void CKyLogInfo::Fail(HRESULT hr) {
  if (SUCCEEDED(status_)) status_ = hr;
}

wchar_t* CKyLogInfo::KeepText(const wchar_t* text) {
  wchar_t* copy = KeepString(text);
  if (text && !copy) Fail(E_OUTOFMEMORY);
  return copy;
}

void CKyLogInfo::SetUserSummaryAndMainText(const std::wstring& user, const std::wstring& summary,
                                           const std::wstring& mainText) {
  SetField(0, kUserFieldId, user.c_str());
  SetField(1, kSummaryFieldId, summary.c_str());
  SetDetail(0, kMainTextToken, mainText.c_str());
}
