// The COM class "ZelLogger": writes parental-control entries to the platform's report log. Each
// method builds one record of its kind and writes it through the object's report-log writer.
#pragma once

#include <memory>

#include "TarnLogHelper.h"
#include "TarnRecordContext.h"
#include "TarnUserHelper.h"
#include "TypeLibDispatch.h"
#include "ZelTARN.h"
#include "ZelTARNModule.h"

class CZelLogger : public CZelComObject<CTypeLibDispatch<IZelLogger>> {
 public:
  // A logger writing to the platform's report log.
  static HRESULT Create(REFIID iid, void** object);
  // A logger writing to the report log `createReportLog` gives (tests and measurements).
  static HRESULT CreateWithReportLog(ReportLogCreator createReportLog, REFIID iid, void** object);

  explicit CZelLogger(ReportLogCreator createReportLog);
  // Creates the writer (which tries the report log at once) and the user helper.
  HRESULT FinalConstruct() noexcept;

  STDMETHODIMP LogInfoUser(LONG* lAction, BSTR bstrTargetUserName, BSTR bstrResponsibleUserName,
                           LONG* lResult) override;
  STDMETHODIMP LogBlockingFeature(LONG bAdd, LONG* lBlockingFeature, LONG* lResult) override;
  STDMETHODIMP LogWebsite(LONG* lAction, LONG* lWebSiteType, BSTR bstrWebSite, LONG* lResult) override;
  STDMETHODIMP LogPersonalInfo(LONG* lAction, BSTR bstrPIIType, LONG* lResult) override;
  STDMETHODIMP LogKeyword(BSTR bstrAgeLevel, BSTR bstrKeyword, LONG* lResult) override;
  STDMETHODIMP LogEvent(LONG* lEventType, BSTR bstrWebPage, BSTR bstrContent, ULONG idSession,
                        LONG* lResult) override;
  STDMETHODIMP LogInetTimeLimit(BSTR bstrUserName, VARIANT bstrDayNameList, VARIANT bstrFromTimeList,
                                VARIANT bstrToTimeList, LONG* lResult) override;

 private:
  // Builds a record of kind Record on the stack and writes it; a record that could not be built
  // is answered with its failure and nothing is written.
  template <typename Record, typename... Args>
  HRESULT WriteRecord(LONG* lResult, Args&&... args);

  ReportLogCreator createReportLog_;
  // Both are set once by FinalConstruct and then only read; each guards its own state.
  std::unique_ptr<CTarnLogHelper> logHelper_;
  std::unique_ptr<CTarnUserHelper> userHelper_;
};
