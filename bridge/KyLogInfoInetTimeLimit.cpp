#include "KyLogInfoInetTimeLimit.h"

#include <utility>

#include "LogInstance.h"
#include "RecordText.h"

using ETWLogging::kLevelNormal;

namespace {

constexpr wchar_t kSource[] = L"ZelTARNHelper";
// Each day's line ends in a line break that the platform's template un-escapes twice.
constexpr wchar_t kLineBreak[] = L"&amp;lt;br/&amp;gt;";

HRESULT CopyList(const VariantList& source, VariantList* copy) {
  copy->resize(source.size());
  for (size_t i = 0; i < source.size(); ++i) {
    HRESULT hr = (*copy)[i].CopyFrom(source[i].Get());
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

void AssignBstr(BSTR bstr, std::wstring* text) {
  if (bstr)
    text->assign(bstr, ::SysStringLen(bstr));
  else
    text->clear();
}

// A string value as it is; any other value converted to its text form.
HRESULT VariantText(const VARIANT& value, std::wstring* text) {
  if (V_VT(&value) == VT_BSTR) {
    AssignBstr(V_BSTR(&value), text);
    return S_OK;
  }
  CVariantValue converted;
  HRESULT hr = ::VariantChangeType(converted.Put(), const_cast<VARIANT*>(&value), 0, VT_BSTR);
  if (FAILED(hr)) return hr;
  AssignBstr(V_BSTR(&converted.Get()), text);
  return S_OK;
}

HRESULT ReplaceByVariant(std::wstring* line, const wchar_t* placeholder, const VARIANT& value) {
  std::wstring text;
  HRESULT hr = VariantText(value, &text);
  if (FAILED(hr)) return hr;
  ReplacePlaceholder(line, placeholder, text);
  return S_OK;
}

}  // namespace

CKyLogInfoInetTimeLimit::CKyLogInfoInetTimeLimit(IRecordContext& context, std::wstring userName,
                                                 const VariantList& dayNames, const VariantList& fromTimes,
                                                 const VariantList& toTimes)
    : CKyLogInfo(L"{006B86CE-31E3-43D4-BACA-6BF6801073C5}", 506, 2, 1, 1), userName_(std::move(userName)) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoInetTimeLimit::CKyLogInfoInetTimeLimit",
          L"ZelTARNHelper::CKyLogInfoInetTimeLimit - Inside Event Log for Time Limit configuration");
  HRESULT hr = CopyLists(dayNames, fromTimes, toTimes);
  if (FAILED(hr)) {
    Fail(hr);
    return;
  }
  ProcessLog(context);
}

HRESULT CKyLogInfoInetTimeLimit::CopyLists(const VariantList& dayNames, const VariantList& fromTimes,
                                           const VariantList& toTimes) {
  if (fromTimes.size() < dayNames.size() || toTimes.size() < dayNames.size()) return E_INVALIDARG;
  HRESULT hr = CopyList(dayNames, &dayNames_);
  if (SUCCEEDED(hr)) hr = CopyList(fromTimes, &fromTimes_);
  if (SUCCEEDED(hr)) hr = CopyList(toTimes, &toTimes_);
  return hr;
}

void CKyLogInfoInetTimeLimit::ProcessLog(IRecordContext& context) {
  ZEL_LOG(kLevelNormal, kSource, L"CKyLogInfoInetTimeLimit::ProcessLog",
          L"ZelTARNHelper::CKyLogInfoInetTimeLimit - Logging Time Limit configuration");
  const std::wstring name = context.UserNameOfCurrentSession();
  SetField(0, kUserFieldId, name.c_str());
  SetField(1, kSummaryFieldId, context.ProductString(6002).c_str());

  std::wstring lineTemplate = context.ProductString(6003);
  ReplacePlaceholder(&lineTemplate, L"%admin%", name);
  ReplacePlaceholder(&lineTemplate, L"%user%", userName_);
  std::wstring mainText;
  for (size_t day = 0; day < dayNames_.size(); ++day) {
    HRESULT hr = AppendDayLine(lineTemplate, day, &mainText);
    if (FAILED(hr)) {
      Fail(hr);
      return;
    }
  }
  SetDetail(0, kMainTextToken, mainText.c_str());
}

HRESULT CKyLogInfoInetTimeLimit::AppendDayLine(const std::wstring& lineTemplate, size_t day,
                                               std::wstring* mainText) const {
  std::wstring line = lineTemplate;
  HRESULT hr = ReplaceByVariant(&line, L"%dayname%", dayNames_[day].Get());
  if (SUCCEEDED(hr)) hr = ReplaceByVariant(&line, L"%fromtime%", fromTimes_[day].Get());
  if (SUCCEEDED(hr)) hr = ReplaceByVariant(&line, L"%totime%", toTimes_[day].Get());
  if (FAILED(hr)) return hr;
  *mainText += line;
  *mainText += kLineBreak;
  return S_OK;
}
