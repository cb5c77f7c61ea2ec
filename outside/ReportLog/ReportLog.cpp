#include "ReportLog.h"

#include <atomic>

#include "ReportLogStore.h"
#include "StandInState.h"

namespace ZelStandIns {

ReportLog::ReportLog(const std::wstring& standIn)
    : standIn_(standIn), knobs_(standIn.c_str()), memoryOnly_(knobs_.ReadDword(L"MemoryOnly").value_or(0) == 1) {}

namespace {

std::atomic<unsigned long> g_recordsInMemory{0};

}  // namespace

void ReportLog::ExitIfAsked() const {
  // The knob is counted down where it is set: this process's subkey first, as every knob.
  for (const std::wstring& path : {StandInKnobs::ProcessKeyPath(standIn_.c_str(), ::GetCurrentProcessId()),
                                   StandInKnobs::KeyPath(standIn_.c_str())}) {
    Strata::UniqueHkey key = OpenKey(HKEY_LOCAL_MACHINE, path, false);
    std::optional<DWORD> left = key ? ReadDword(key.get(), L"ExitOnWrite") : std::nullopt;
    if (!left) continue;
    if (*left == 0) return;
    if (*left != 0xFFFFFFFF) WriteDword(key.get(), L"ExitOnWrite", *left - 1);
    ::ExitProcess(kExitOnWriteCode);
  }
}

STDMETHODIMP ReportLog::Write(tagKYLOG_INFO* record, LONG* result) {
  return Guarded([&]() -> HRESULT {
    if (memoryOnly_) {
      if (!record || !result) return E_POINTER;
      ++g_recordsInMemory;
      *result = 0;
      return S_OK;
    }
    knobs_.CountCall(L"Writes");
    ExitIfAsked();
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
