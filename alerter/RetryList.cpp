#include "RetryList.h"
#include "SlimLock.h"

#include <utility>

bool CRetryList::Add(const AlertRequestPtr& request) {
  if (!enabled_) return false;
  std::lock_guard<Strata::SlimLock> guard(lock_);
  if (replaying_ && replaying_->IsSameAlert(*request)) return false;
  for (const AlertRequestPtr& queued : queue_) {
    if (queued->IsSameAlert(*request)) return false;
  }
  queue_.push_back(request);
  return true;
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
  return queue_.size();
}
