// The queue of requests waiting to be shown again. The retry thread detaches the head, replays it
// with no lock held and puts it back unless a do-not-show-again answer purged its type meanwhile.
// Members return what they remove, so that requests are discarded after the lock is gone.
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <vector>

#include "AlertRequest.h"
#include "SlimLock.h"

class CRetryList {
 public:
  // How many requests may wait: each holds its CAlert, and with it the server process.
  static constexpr size_t kMaxQueued = 1000;

  enum class AddResult { Added, AlreadyQueued, Disabled, Full };

  // A disabled list (retry delay 0) refuses every request.
  explicit CRetryList(bool enabled) : enabled_(enabled) {}
  // Reports a burst of refusals that lasted to the end.
  ~CRetryList() { ReportRefusals(); }

  bool Enabled() const noexcept { return enabled_.load(); }
  // Without a retry thread nothing would ever leave the list: refuse from now on.
  void Disable() noexcept { enabled_.store(false); }
  // Full, counted, when kMaxQueued requests wait already; a burst of such refusals is reported in
  // one diagnostic line once a request is queued again or the list ends.
  AddResult Add(const AlertRequestPtr& request);
  // The head, taken out for its replay; null when the list is empty.
  AlertRequestPtr DetachHead();
  // Ends the replay of the detached head: back at the head, unless its type was purged meanwhile.
  void PutBack(const AlertRequestPtr& request);
  // Ends the replay of the detached head, which is done with.
  void EndReplay();
  std::vector<AlertRequestPtr> RemoveType(const AlertRequest::Text& typeId);
  std::vector<AlertRequestPtr> RemoveThoseNotRetrying();
  bool Empty() const;
  // The requests waiting, the one being replayed among them.
  size_t Count() const;

 private:
  void ReportRefusals() noexcept;

  std::atomic<bool> enabled_;
  mutable Strata::SlimLock lock_;
  std::deque<AlertRequestPtr> queue_;  // guarded by lock_
  AlertRequestPtr replaying_;          // guarded by lock_; the detached head
  bool replayingPurged_ = false;       // guarded by lock_
  std::atomic<unsigned long> refused_{0};  // refused as Full since the last report
};
