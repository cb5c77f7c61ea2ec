// The platform alert library stand-in "kypltalt.dll": the seven exports. Nothing is drawn; each
// alert is recorded (AlertRecorder) and a tracked one ends when a test commands it
// (AlertCompleter). Knobs under its state key: "InitResult" (what KyInitTARNAlert answers),
// "InitCount" (written: how often KyInitTARNAlert ran), "ShowResult" (a non-zero code makes every
// show fail with it, recording nothing), "FailNextShows" (that many shows fail with
// ERROR_BUSY, counting down), "FailEveryNthShow" (every Nth show of this process fails with
// ERROR_BUSY), "CompleteInShow" (1: a tracked alert ends with button 0 from inside
// its own show call), "NotifyOnClose" (1: closing a tracked alert also notifies its end, as a
// library racing the close would), "RepeatNotifications" (see AlertCompleter.h) and "ShowDelayMs"
// (each show returns that long after recording its alert). Written: "MostShowsAtOnce", the most
// shows this process has had running at the same moment.
#include <windows.h>

#include <atomic>

#include "AlertCompleter.h"
#include "AlertRecorder.h"
#include "ComGuard.h"
#include "KyPltAlt.h"
#include "StandInState.h"

namespace {

using namespace ZelStandIns;

std::optional<DWORD> Knob(const wchar_t* name) {
  return ReadDword(OpenKey(HKEY_LOCAL_MACHINE, StateKeyPath(L"KyPltAlt"), false).get(), name);
}

void SetKnob(const wchar_t* name, DWORD value) {
  WriteDword(OpenKey(HKEY_LOCAL_MACHINE, StateKeyPath(L"KyPltAlt"), true).get(), name, value);
}

std::atomic<unsigned long> g_shows{0};
std::atomic<DWORD> g_showsRunning{0};
std::atomic<DWORD> g_mostShowsAtOnce{0};

// Counts the shows running at once for as long as it lives.
class RunningShow {
 public:
  RunningShow() {
    const DWORD running = ++g_showsRunning;
    DWORD most = g_mostShowsAtOnce.load();
    while (running > most && !g_mostShowsAtOnce.compare_exchange_weak(most, running)) {
    }
    if (running > most) SetKnob(L"MostShowsAtOnce", running);
  }
  ~RunningShow() { --g_showsRunning; }
  RunningShow(const RunningShow&) = delete;
  RunningShow& operator=(const RunningShow&) = delete;
};

// A failure the knobs ask for; 0 for none.
int32_t ConfiguredFailure() {
  if (DWORD failure = Knob(L"ShowResult").value_or(0)) return static_cast<int32_t>(failure);
  const DWORD every = Knob(L"FailEveryNthShow").value_or(0);
  if (every != 0 && ++g_shows % every == 0) return ERROR_BUSY;
  DWORD failing = Knob(L"FailNextShows").value_or(0);
  if (failing == 0) return 0;
  SetKnob(L"FailNextShows", failing - 1);
  return ERROR_BUSY;
}

// The library answers Win32 codes: a body that throws is answered with the code of the one guard's
// HRESULT (ERROR_OUTOFMEMORY for an allocation).
template <typename Body>
int32_t GuardedCode(Body&& body) noexcept {
  int32_t code = ERROR_OUTOFMEMORY;
  const HRESULT hr = GuardHResult([&] {
    code = body();
    return S_OK;
  });
  return SUCCEEDED(hr) ? code : static_cast<int32_t>(HRESULT_CODE(hr));
}

int32_t Show(const char* exportName, const AlertShowRecord* record, KyAlertNotification notify, void* context,
             int32_t timeout, uint32_t flags, uint32_t* alertHandle) {
  if (!record || !alertHandle) return ERROR_INVALID_PARAMETER;
  RunningShow running;
  *alertHandle = 0;
  if (int32_t failure = ConfiguredFailure()) return failure;
  AlertCompleter& completer = AlertCompleter::Instance();
  completer.Start();
  uint32_t handle = AlertRecorder().RecordAlert(*record, exportName, timeout, flags, notify != nullptr);
  if (handle == 0) return ERROR_WRITE_FAULT;
  if (notify) completer.Track(handle, notify, context, record->hasOption ? record->option : nullptr);
  if (notify && Knob(L"RepeatNotifications").value_or(0) == 1) completer.StartRepeating();
  if (DWORD delay = Knob(L"ShowDelayMs").value_or(0)) ::Sleep(delay);
  *alertHandle = handle;
  if (notify && Knob(L"CompleteInShow").value_or(0) == 1) completer.CompleteNow(handle, 0, false);
  return 0;
}

}  // namespace

extern "C" {

int32_t __stdcall KyInitTARNAlert() {
  return GuardedCode([&]() -> int32_t {
    AlertCompleter::Instance().Start();
    AlertCompleter::Instance().ForgetAll();
    SetKnob(L"InitCount", Knob(L"InitCount").value_or(0) + 1);
    return static_cast<int32_t>(Knob(L"InitResult").value_or(0));
  });
}

int32_t __stdcall KyShowTARNAlert(const AlertShowRecord* record, KyAlertNotification notify, void* context,
                                  int32_t timeout, uint32_t* alertHandle) {
  return GuardedCode([&]() -> int32_t {
    return Show("KyShowTARNAlert", record, notify, context, timeout, 0, alertHandle);
  });
}

int32_t __stdcall KyShowTARNAlert2(const AlertShowRecord* record, KyAlertNotification notify, void* context,
                                   int32_t timeout, uint32_t flags, uint32_t* alertHandle) {
  return GuardedCode([&]() -> int32_t {
    return Show("KyShowTARNAlert2", record, notify, context, timeout, flags, alertHandle);
  });
}

int32_t __stdcall KyCloseTARNAlert(uint32_t alertHandle) {
  return GuardedCode([&]() -> int32_t {
    if (Knob(L"NotifyOnClose").value_or(0) == 1) AlertCompleter::Instance().CompleteNow(alertHandle, 0, false);
    AlertCompleter::Instance().Forget(alertHandle);
    AlertRecorder().MarkAlert(alertHandle, L"Closed", 1);
    return 0;
  });
}

int32_t __stdcall KyShowBriefcardNotification(const wchar_t* title, const wchar_t* text, uint32_t* notificationHandle) {
  return GuardedCode([&]() -> int32_t {
    if (!notificationHandle) return ERROR_INVALID_PARAMETER;
    *notificationHandle = AlertRecorder().RecordBriefcard(title, text);
    return *notificationHandle ? 0 : ERROR_WRITE_FAULT;
  });
}

int32_t __stdcall KyCloseBriefcardNotification(uint32_t notificationHandle) {
  return GuardedCode([&]() -> int32_t {
    AlertRecorder().MarkBriefcardClosed(notificationHandle);
    return 0;
  });
}

int32_t __stdcall KyShowMetroToast(const wchar_t* appId, const wchar_t* title, const wchar_t* text) {
  return GuardedCode([&]() -> int32_t {
    AlertRecorder().RecordToast(appId, title, text);
    return 0;
  });
}

}  // extern "C"
