#include "RetryThread.h"

#include <objbase.h>

#include "Alert.h"
#include "ComApartment.h"
#include "LogInstance.h"
#include "RetryList.h"

namespace {

constexpr LONGLONG kUnitsPerSecond = 10000000;

}  // namespace

CRetryThread::CRetryThread(AlertServices& services, uint32_t delaySeconds) noexcept
    : services_(services), delaySeconds_(delaySeconds) {}

CRetryThread::~CRetryThread() { Stop(); }

LONGLONG CRetryThread::DueTime(uint32_t delaySeconds) noexcept {
  return -static_cast<LONGLONG>(delaySeconds) * kUnitsPerSecond;
}

DWORD CRetryThread::Start() {
  // The running thread waits on these handles: they stay as they are.
  if (IsRunning()) return ERROR_ALREADY_INITIALIZED;
  stop_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  wake_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  timer_.reset(::CreateWaitableTimerW(nullptr, FALSE, nullptr));
  if (!stop_ || !wake_ || !timer_) return ::GetLastError();
  return CKyThread::Start();
}

void CRetryThread::Wake() noexcept {
  if (wake_) ::SetEvent(wake_.get());
}

void CRetryThread::Signal() noexcept { ::SetEvent(stop_.get()); }

void CRetryThread::Run() {
  const Strata::MultithreadedApartment com;
  const HANDLE waits[] = {stop_.get(), wake_.get(), timer_.get()};
  for (;;) {
    const DWORD signalled = ::WaitForMultipleObjects(3, waits, FALSE, INFINITE);
    if (signalled == WAIT_OBJECT_0) break;
    // A wait that cannot succeed would fail again at once: spinning on it would also keep Stop
    // waiting for ever.
    if (signalled == WAIT_FAILED) {
      ZEL_LOG(ETWLogging::kLevelError, L"Alerter", L"CAlerterModule::Run", L"Retry wait failed (error %u)\r\n",
              ::GetLastError());
      break;
    }
    if (signalled == WAIT_OBJECT_0 + 1) {
      ::CancelWaitableTimer(timer_.get());
      ::WaitForSingleObject(timer_.get(), 0);
    }
    if (signalled == WAIT_OBJECT_0 + 1 || signalled == WAIT_OBJECT_0 + 2) ProcessQueue();
  }
}

void CRetryThread::ProcessQueue() {
  CRetryList& queue = *services_.retry;
  while (AlertRequestPtr head = queue.DetachHead()) {
    if (SUCCEEDED(head->ownerObject->Replay(*head))) {
      queue.EndReplay();
      continue;
    }
    queue.PutBack(head);
    // Discarded here, with no lock held.
    std::vector<AlertRequestPtr> dropped = queue.RemoveThoseNotRetrying();
    if (!queue.Empty()) ArmTimer();
    return;
  }
}

void CRetryThread::ArmTimer() noexcept {
  LARGE_INTEGER due;
  due.QuadPart = DueTime(delaySeconds_);
  ::SetWaitableTimer(timer_.get(), &due, 0, nullptr, nullptr, FALSE);
}
