// The report log stand-in's one class: stores every record it is given and answers as its knobs
// say. Served from the local server KyReportLogServer.exe or, registered the other way, from
// KyReportLog.dll.
//
// Knobs (DWORD values under its state key, read on every call):
//   "WriteHResult"      the HRESULT Write returns; a failure stores nothing
//   "WriteResult"       the result code Write hands back (default 0)
//   "HangMilliseconds"  how long Write waits before it answers
//   "ExitOnWrite"       how many Writes make the serving process end at once, without an answer;
//                       each such Write counts it down first (0xFFFFFFFF: every Write), so a
//                       server started afterwards serves normally
//   "MemoryOnly"        1: read when the object is made; its Writes then only count the records
//                       in memory and read no other knob, so that a benchmark measures the
//                       writer's cost rather than the stand-in's registry store
//   "TallyFile"         text, read when the object is made: a file its Writes append one UTF-8
//                       line per record to (category, then every field's and detail's text,
//                       tab-separated) instead of the registry store, so that long runs can count
//                       what arrived, and in which order, across server restarts; the hang and
//                       HRESULT knobs still apply
// Counter "Writes" (per-process subkey only) counts the calls.
#pragma once

#include <windows.h>

#include <string>

#include "Handles.h"
#include "KyReportLog.h"
#include "ServerLock.h"
#include "StandInKnobs.h"

namespace ZelStandIns {

constexpr DWORD kExitOnWriteCode = 0x0BAD;

class ReportLog : public ServerObject<IKyReportLog> {
 public:
  // `standIn` names the key the knobs and records live under, e.g. L"ReportLog".
  explicit ReportLog(const std::wstring& standIn);

  STDMETHODIMP Write(tagKYLOG_INFO* record, LONG* result) override;

 private:
  void ExitIfAsked() const;
  HRESULT Tally(const tagKYLOG_INFO& record) const;

  const std::wstring standIn_;
  const StandInKnobs knobs_;
  const bool memoryOnly_;
  Strata::UniqueFile tally_;  // open for appending when "TallyFile" is set
};

}  // namespace ZelStandIns
