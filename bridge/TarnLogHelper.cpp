#include "TarnLogHelper.h"

#include <utility>

#include "CreateInstanceViaFactory.h"
#include "LogInstance.h"
#include "SlimLock.h"

using ETWLogging::kLevelError;
using ETWLogging::kLevelWarning;
using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kSource[] = L"ZelTARNHelper";

HRESULT CreatePlatformReportLog(IKyReportLog** reportLog) {
  return Ky::CreateInstanceViaFactory(CLSID_KyReportLog, Ky::kAnyClassContext, IID_IKyReportLog,
                                      reinterpret_cast<void**>(reportLog));
}

}  // namespace

CTarnLogHelper::CTarnLogHelper() : CTarnLogHelper(CreatePlatformReportLog) {}

CTarnLogHelper::CTarnLogHelper(ReportLogCreator create) : create_(std::move(create)) { acquireTarnLog(); }

HRESULT CTarnLogHelper::acquireTarnLog() {
  std::lock_guard<Strata::SlimLock> guard(lock_);
  return acquireTarnLogLocked();
}

HRESULT CTarnLogHelper::acquireTarnLogLocked() {
  reportLog_.Reset();
  creationResult_ = create_(&reportLog_);
  if (SUCCEEDED(creationResult_) && !reportLog_) creationResult_ = E_FAIL;
  if (FAILED(creationResult_)) {
    reportLog_.Reset();
    ZEL_LOG(kLevelError, kSource, L"CTarnLogHelper::acquireTarnLog", L"Failed to create TARN Report Log [0x%08X]\r\n",
            creationResult_);
  }
  return creationResult_;
}

HRESULT CTarnLogHelper::Write(IKyReportLog* reportLog, CKyLogInfo* record, long* result) {
  return reportLog->Write(record ? &record->Info() : nullptr, reinterpret_cast<LONG*>(result));
}

HRESULT CTarnLogHelper::Log(CKyLogInfo* record, long* result) {
  ComPtr<IKyReportLog> reportLog;
  {
    std::lock_guard<Strata::SlimLock> guard(lock_);
    if (FAILED(creationResult_)) return creationResult_;
    reportLog = reportLog_;
  }
  HRESULT hr = Write(reportLog.Get(), record, result);
  if (IsRpcFailure(hr)) {
    ZEL_LOG(kLevelWarning, kSource, L"CTarnLogHelper::Log", L"TARN Log gave RPC error 0x%08X\r\n", hr);
    {
      std::lock_guard<Strata::SlimLock> guard(lock_);
      // Another writer that met the same failure may have re-created it already.
      if (reportLog_ == reportLog) acquireTarnLogLocked();
      if (FAILED(creationResult_)) return creationResult_;
      reportLog = reportLog_;
    }
    if (CallNeverReachedServer(hr)) hr = Write(reportLog.Get(), record, result);
  }
  if (hr != S_OK || Ky::ResultError(*result) != 0) {
    ZEL_LOG(kLevelError, kSource, L"CTarnLogHelper::Log", L"Failed to log an event: [Error 0x%08X][Result 0x%08X]\r\n",
            hr, *result);
  }
  return hr;
}
