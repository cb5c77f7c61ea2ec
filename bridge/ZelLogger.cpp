#include "ZelLogger.h"

#include <string>
#include <utility>

#include "ComGuard.h"
#include "KyLogInfoEvent.h"
#include "KyLogInfoInetTimeLimit.h"
#include "KyLogInfoKinds.h"
#include "LogInstance.h"
#include "ScriptLists.h"

using ETWLogging::kLevelNormal;

namespace {

constexpr wchar_t kSource[] = L"ZelLogger";
constexpr long kPersonalInfoEvent = 2;

std::wstring TextOf(BSTR text) { return text ? std::wstring(text, ::SysStringLen(text)) : std::wstring(); }

}  // namespace

HRESULT CZelLogger::Create(REFIID iid, void** object) { return CreateWithReportLog(nullptr, iid, object); }

HRESULT CZelLogger::CreateWithReportLog(ReportLogCreator createReportLog, REFIID iid, void** object) {
  return CreateInstance<CZelLogger>(iid, object, std::move(createReportLog));
}

CZelLogger::CZelLogger(ReportLogCreator createReportLog) : createReportLog_(std::move(createReportLog)) {}

HRESULT CZelLogger::FinalConstruct() noexcept {
  return GuardHResult([this] {
    logHelper_ = createReportLog_ ? std::make_unique<CTarnLogHelper>(createReportLog_)
                                  : std::make_unique<CTarnLogHelper>();
    userHelper_ = std::make_unique<CTarnUserHelper>();
    return S_OK;
  });
}

// Called inside each method's guard, which also covers the texts copied for its arguments.
template <typename Record, typename... Args>
HRESULT CZelLogger::WriteRecord(LONG* lResult, Args&&... args) {
  CTarnRecordContext context(*userHelper_);
  Record record(context, std::forward<Args>(args)...);
  if (FAILED(record.Status())) return record.Status();
  return logHelper_->Log(&record, lResult);
}

STDMETHODIMP CZelLogger::LogInfoUser(LONG* lAction, BSTR bstrTargetUserName, BSTR bstrResponsibleUserName,
                                     LONG* lResult) {
  ZEL_LOG(kLevelNormal, kSource, L"CZelLogger::LogInfoUser",
          L"CZelLogger::LogInfoUser - Inside Event Log for User configuration\r\n");
  if (!lAction || !lResult) return E_POINTER;
  return GuardHResult([&] {
    return WriteRecord<CKyLogInfoUser>(lResult, *lAction, TextOf(bstrTargetUserName), TextOf(bstrResponsibleUserName));
  });
}

STDMETHODIMP CZelLogger::LogBlockingFeature(LONG bAdd, LONG* lBlockingFeature, LONG* lResult) {
  ZEL_LOG(kLevelNormal, kSource, L"CZelLogger::LogBlockingFeature",
          L"CZelLogger::LogBlockingFeature - Inside Event Log for Web Browsing configuration\r\n");
  if (!lBlockingFeature || !lResult) return E_POINTER;
  return GuardHResult([&] {
    return WriteRecord<CKyLogInfoBlockingFeature>(lResult, CKyLogInfoBlockingFeature::kCategory,
                                                  CKyLogInfoBlockingFeature::kTemplateId, bAdd, *lBlockingFeature);
  });
}

STDMETHODIMP CZelLogger::LogWebsite(LONG* lAction, LONG* lWebSiteType, BSTR bstrWebSite, LONG* lResult) {
  ZEL_LOG(kLevelNormal, kSource, L"CZelLogger::LogWebsite",
          L"CZelLogger::LogWebsite - Inside Event Log for Website configuration\r\n");
  if (!lAction || !lWebSiteType || !lResult) return E_POINTER;
  return GuardHResult([&] {
    return WriteRecord<CKyLogInfoWebsite>(lResult, *lAction, *lWebSiteType, TextOf(bstrWebSite));
  });
}

STDMETHODIMP CZelLogger::LogPersonalInfo(LONG* lAction, BSTR bstrPIIType, LONG* lResult) {
  ZEL_LOG(kLevelNormal, kSource, L"CZelLogger::LogPersonalInfo",
          L"CZelLogger::LogPersonalInfo - Inside Event Log for PII configuration\r\n");
  if (!lAction || !lResult) return E_POINTER;
  return GuardHResult([&] {
    return WriteRecord<CKyLogInfoPersonalInfo>(lResult, *lAction, TextOf(bstrPIIType));
  });
}

STDMETHODIMP CZelLogger::LogKeyword(BSTR bstrAgeLevel, BSTR bstrKeyword, LONG* lResult) {
  ZEL_LOG(kLevelNormal, kSource, L"CZelLogger::LogKeyword",
          L"CZelLogger::LogKeyword - Inside Event Log for Keyword configuration\r\n");
  if (!lResult) return E_POINTER;
  return GuardHResult([&] {
    return WriteRecord<CKyLogInfoKeyword>(lResult, TextOf(bstrAgeLevel), TextOf(bstrKeyword));
  });
}

STDMETHODIMP CZelLogger::LogEvent(LONG* lEventType, BSTR bstrWebPage, BSTR bstrContent, ULONG idSession,
                                  LONG* lResult) {
  ZEL_LOG(kLevelNormal, kSource, L"CZelLogger::LogEvent",
          L"CZelLogger::LogEvent - Inside Event Log for Internet Events configuration\r\n");
  if (!lEventType || !lResult) return E_POINTER;
  return GuardHResult([&] {
    const long eventType = *lEventType;
    if (eventType == kPersonalInfoEvent)
      return WriteRecord<CKyLogInfoPIEvent>(lResult, eventType, TextOf(bstrWebPage), TextOf(bstrContent), idSession);
    return WriteRecord<CKyLogInfoWebEvent>(lResult, eventType, TextOf(bstrWebPage), TextOf(bstrContent), idSession);
  });
}

STDMETHODIMP CZelLogger::LogInetTimeLimit(BSTR bstrUserName, VARIANT bstrDayNameList, VARIANT bstrFromTimeList,
                                          VARIANT bstrToTimeList, LONG* lResult) {
  ZEL_LOG(kLevelNormal, kSource, L"CZelLogger::LogInetTimeLimit",
          L"CZelLogger::LogInetTimeLimit - Inside Event Log for Time Limit configuration\r\n");
  if (!lResult) return E_POINTER;
  return GuardHResult([&] {
    VariantList dayNames;
    VariantList fromTimes;
    VariantList toTimes;
    HRESULT hr = ConvertScriptList(bstrDayNameList, &dayNames);
    if (SUCCEEDED(hr)) hr = ConvertScriptList(bstrFromTimeList, &fromTimes);
    if (SUCCEEDED(hr)) hr = ConvertScriptList(bstrToTimeList, &toTimes);
    if (FAILED(hr)) return hr;
    return WriteRecord<CKyLogInfoInetTimeLimit>(lResult, TextOf(bstrUserName), dayNames, fromTimes, toTimes);
  });
}
