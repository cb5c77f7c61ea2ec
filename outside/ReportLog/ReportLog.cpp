#include "ReportLog.h"

#include "ReportLogStore.h"
#include "StandInState.h"

namespace ZelStandIns {

ReportLog::ReportLog(const std::wstring& standIn) : standIn_(standIn), knobs_(standIn.c_str()) {}

STDMETHODIMP ReportLog::Write(tagKYLOG_INFO* record, LONG* result) {
  return Guarded([&]() -> HRESULT {
    knobs_.CountCall(L"Writes");
    if (knobs_.ReadDword(L"ExitOnWrite").value_or(0)) ::ExitProcess(kExitOnWriteCode);
    if (DWORD hang = knobs_.ReadDword(L"HangMilliseconds").value_or(0)) ::Sleep(hang);
    if (!record || !result) return E_POINTER;
    HRESULT answer = static_cast<HRESULT>(knobs_.ReadDword(L"WriteHResult").value_or(S_OK));
    if (FAILED(answer)) return answer;
    HRESULT stored = ReportLogStore(StateKeyPath(standIn_)).Append(*record);
    if (FAILED(stored)) return stored;
    *result = static_cast<LONG>(knobs_.ReadDword(L"WriteResult").value_or(0));
    return answer;
  });
}

}  // namespace ZelStandIns
