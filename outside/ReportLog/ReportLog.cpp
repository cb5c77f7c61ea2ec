#include "ReportLog.h"

#include <atomic>

#include "ComGuard.h"
#include "ReportLogStore.h"
#include "StandInState.h"

namespace ZelStandIns {

namespace {

std::atomic<unsigned long> g_recordsInMemory{0};

Strata::UniqueFile OpenTally(const std::wstring& standIn) {
  Strata::UniqueHkey key = OpenKey(HKEY_LOCAL_MACHINE, StandInKnobs::KeyPath(standIn.c_str()), false);
  std::optional<std::wstring> path = key ? ReadText(key.get(), L"TallyFile") : std::nullopt;
  if (!path) return Strata::UniqueFile();
  return Strata::UniqueFile(::CreateFileW(path->c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
}

// One text of a record on one line of the tally: tabs and line ends inside it become spaces.
void AppendTallyText(const wchar_t* text, std::wstring* line) {
  if (!line->empty()) *line += L'\t';
  for (const wchar_t* c = text ? text : L""; *c; ++c) *line += (*c == L'\t' || *c == L'\r' || *c == L'\n') ? L' ' : *c;
}

std::string Utf8(const std::wstring& text) {
  int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
  return utf8;
}

}  // namespace

ReportLog::ReportLog(const std::wstring& standIn)
    : standIn_(standIn),
      knobs_(standIn.c_str()),
      memoryOnly_(knobs_.ReadDword(L"MemoryOnly").value_or(0) == 1),
      tally_(OpenTally(standIn)) {}

HRESULT ReportLog::Tally(const tagKYLOG_INFO& record) const {
  std::wstring line;
  AppendTallyText(record.pwszLogCategoryID ? record.pwszLogCategoryID : L"-", &line);
  for (DWORD i = 0; record.pFields && i < record.dwFieldCount; ++i) AppendTallyText(record.pFields[i].pwszData, &line);
  for (DWORD i = 0; record.pDetailsData && i < record.dwDetailsDataCount; ++i)
    AppendTallyText(record.pDetailsData[i].pwszValue, &line);
  std::string utf8 = Utf8(line) + "\n";
  // Objects in several threads, and a server started while another ends, append to one file, and
  // an append is not atomic everywhere (Wine finds the end, then writes).
  static Strata::UniqueHandle appending(::CreateMutexW(nullptr, FALSE, L"Local\\ZelReportLogTally"));
  ::WaitForSingleObject(appending.get(), INFINITE);
  DWORD written = 0;
  BOOL ok = ::WriteFile(tally_.get(), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
  DWORD error = ::GetLastError();
  ::ReleaseMutex(appending.get());
  return ok ? S_OK : HRESULT_FROM_WIN32(error);
}

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
  return GuardHResult([&]() -> HRESULT {
    if (memoryOnly_) {
      if (!record || !result) return E_POINTER;
      ++g_recordsInMemory;
      *result = 0;
      return S_OK;
    }
    if (!tally_) {
      knobs_.CountCall(L"Writes");
      ExitIfAsked();
    }
    if (DWORD hang = knobs_.ReadDword(L"HangMilliseconds").value_or(0)) ::Sleep(hang);
    if (!record || !result) return E_POINTER;
    HRESULT answer = static_cast<HRESULT>(knobs_.ReadDword(L"WriteHResult").value_or(S_OK));
    if (FAILED(answer)) return answer;
    HRESULT stored = tally_ ? Tally(*record) : ReportLogStore(StateKeyPath(standIn_)).Append(*record);
    if (FAILED(stored)) return stored;
    *result = static_cast<LONG>(knobs_.ReadDword(L"WriteResult").value_or(0));
    return answer;
  });
}

}  // namespace ZelStandIns
