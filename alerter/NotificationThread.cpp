#include "NotificationThread.h"

#include <objbase.h>

#include <mutex>
#include <utility>

#include "AlertNotification.h"
#include "ComApartment.h"
#include "ComGuard.h"

DWORD CNotificationThread::Start() {
  if (IsRunning()) return ERROR_ALREADY_INITIALIZED;
  stop_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  posted_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!stop_ || !posted_) return ::GetLastError();
  return CKyThread::Start();
}

void CNotificationThread::Post(EndedAlert ended) {
  {
    std::lock_guard<Strata::SlimLock> guard(lock_);
    queue_.push_back(std::move(ended));
  }
  ::SetEvent(posted_.get());
}

void CNotificationThread::Run() {
  // The callbacks are proxies into callers' processes, reached from the multithreaded apartment.
  const Strata::MultithreadedApartment com;
  const HANDLE waits[] = {stop_.get(), posted_.get()};
  for (;;) {
    const DWORD signalled = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    DoPosted();
    if (signalled != WAIT_OBJECT_0 + 1) break;
  }
}

void CNotificationThread::DoPosted() {
  for (;;) {
    EndedAlert ended;
    {
      std::lock_guard<Strata::SlimLock> guard(lock_);
      if (queue_.empty()) return;
      ended = std::move(queue_.front());
      queue_.pop_front();
    }
    // One alert's failure must not keep the others from their end.
    GuardHResult([&] {
      CAlertNotification::End(services_, ended);
      return S_OK;
    });
  }
}
