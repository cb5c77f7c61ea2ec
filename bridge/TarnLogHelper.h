// The bridge library's only path to the platform's report log: one report-log object per helper,
// one write per call, and one re-creation when the process behind the object has gone away.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>

#include <wrl/client.h>

#include "KyLogInfo.h"
#include "KyReportLog.h"
#include "CallResult.h"
#include "SlimLock.h"

// How a helper gets its report log; tests hand in their own.
using ReportLogCreator = std::function<HRESULT(IKyReportLog** reportLog)>;

using Ky::IsRpcFailure;

// An RPC failure after which the record cannot have been stored: the call never reached the report
// log's server. Only then is the record written again to the re-created report log; after any other
// RPC failure (RPC_S_CALL_FAILED above all) the server may have stored it already, and a second
// write would put it in the parent's report twice.
constexpr bool CallNeverReachedServer(HRESULT hr) {
  return static_cast<DWORD>(hr) == 0x800706BA ||  // RPC_S_SERVER_UNAVAILABLE
         static_cast<DWORD>(hr) == 0x800706BF;    // RPC_S_CALL_FAILED_DNE
}

class CTarnLogHelper {
 public:
  // Creates the report log at once; a failure is kept and answered by every later Log.
  CTarnLogHelper();
  explicit CTarnLogHelper(ReportLogCreator create);
  CTarnLogHelper(const CTarnLogHelper&) = delete;
  CTarnLogHelper& operator=(const CTarnLogHelper&) = delete;

  // Drops the report log held and creates a new one; the result is kept as the creation result.
  HRESULT acquireTarnLog();

  // Writes the record (a null record writes a null pointer) and leaves the platform's result code
  // in *result. A failed creation is answered at once with *result untouched. Safe to call from
  // several threads at once: each write uses a reference of its own, so a re-creation by one
  // thread never releases the object under another's write.
  HRESULT Log(CKyLogInfo* record, long* result);

 private:
  HRESULT acquireTarnLogLocked();
  HRESULT Write(IKyReportLog* reportLog, CKyLogInfo* record, long* result);

  const ReportLogCreator create_;
  // Guards creationResult_ and reportLog_; never held during a write.
  Strata::SlimLock lock_;
  HRESULT creationResult_ = S_OK;
  Microsoft::WRL::ComPtr<IKyReportLog> reportLog_;
};
