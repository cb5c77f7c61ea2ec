#include "RetryList.h"

#include "LogInstance.h"
#include "SlimLock.h"

#include <utility>

CRetryList::AddResult CRetryList::Add(const AlertRequestPtr& request) {
  if (!enabled_) return AddResult::Disabled;
  {
    std::lock_guard<Strata::SlimLock> guard(lock_);
    if (replaying_ && replaying_->IsSameAlert(*request)) return AddResult::AlreadyQueued;
    for (const AlertRequestPtr& queued : queue_) {
      if (queued->IsSameAlert(*request)) return AddResult::AlreadyQueued;
    }
    // The request being replayed is out of the queue for a moment only: it counts as waiting.
    if (queue_.size() + (replaying_ ? 1 : 0) >= kMaxQueued) {
      ++refused_;
      return AddResult::Full;
    }
    queue_.push_back(request);
  }
  // With no lock held: the line is written on the caller's thread.
  ReportRefusals();
  return AddResult::Added;
}

void CRetryList::ReportRefusals() noexcept {
  if (const unsigned long refused = refused_.exchange(0)) {
    ZEL_LOG(ETWLogging::kLevelError, L"Alert", L"CAlert::_ShowAlert",
            L"The retry list was full: %lu alerts were refused\r\n", refused);
  }
}

AlertRequestPtr CRetryList::DetachHead() {
  std::lock_guard<Strata::SlimLock> guard(lock_);
  if (queue_.empty()) return nullptr;
  replaying_ = std::move(queue_.front());
  queue_.pop_front();
  replayingPurged_ = false;
  return replaying_;
}

void CRetryList::PutBack(const AlertRequestPtr& request) {
  AlertRequestPtr ended;
  std::lock_guard<Strata::SlimLock> guard(lock_);
  ended = std::exchange(replaying_, nullptr);
  if (!replayingPurged_) queue_.push_front(request);
}

void CRetryList::EndReplay() {
  AlertRequestPtr ended;
  std::lock_guard<Strata::SlimLock> guard(lock_);
  ended = std::exchange(replaying_, nullptr);
}

std::vector<AlertRequestPtr> CRetryList::RemoveType(const AlertRequest::Text& typeId) {
  std::vector<AlertRequestPtr> removed;
  std::lock_guard<Strata::SlimLock> guard(lock_);
  if (replaying_ && replaying_->HasType(typeId)) replayingPurged_ = true;
  for (auto entry = queue_.begin(); entry != queue_.end();) {
    if ((*entry)->HasType(typeId)) {
      removed.push_back(std::move(*entry));
      entry = queue_.erase(entry);
    } else {
      ++entry;
    }
  }
  return removed;
}

std::vector<AlertRequestPtr> CRetryList::RemoveThoseNotRetrying() {
  std::vector<AlertRequestPtr> removed;
  std::lock_guard<Strata::SlimLock> guard(lock_);
  for (auto entry = queue_.begin(); entry != queue_.end();) {
    if (!(*entry)->retryIfFailed) {
      removed.push_back(std::move(*entry));
      entry = queue_.erase(entry);
    } else {
      ++entry;
    }
  }
  return removed;
}

bool CRetryList::Empty() const {
  std::lock_guard<Strata::SlimLock> guard(lock_);
  return queue_.empty();
}

size_t CRetryList::Count() const {
  std::lock_guard<Strata::SlimLock> guard(lock_);
  return queue_.size() + (replaying_ ? 1 : 0);
}
