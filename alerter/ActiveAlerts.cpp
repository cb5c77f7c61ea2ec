#include "ActiveAlerts.h"
#include "SlimLock.h"

uint64_t CActiveAlerts::AddUnlessSame(const AlertRequestPtr& request) {
  std::lock_guard<Strata::SlimLock> guard(lock_);
  for (const auto& entry : requests_) {
    if (entry.second->IsSameAlert(*request)) return 0;
  }
  const uint64_t id = ++lastId_;
  requests_.emplace(id, request);
  return id;
}

bool CActiveAlerts::SetHandle(uint64_t id, uint32_t handle) {
  std::lock_guard<Strata::SlimLock> guard(lock_);
  auto found = requests_.find(id);
  if (found == requests_.end()) return false;
  found->second->alertHandle = handle;
  return true;
}

AlertRequestPtr CActiveAlerts::Claim(uint64_t id) {
  std::lock_guard<Strata::SlimLock> guard(lock_);
  auto found = requests_.find(id);
  if (found == requests_.end()) return nullptr;
  AlertRequestPtr request = std::move(found->second);
  requests_.erase(found);
  return request;
}

std::vector<AlertRequestPtr> CActiveAlerts::ClaimType(const AlertRequest::Text& typeId) {
  std::vector<AlertRequestPtr> claimed;
  std::lock_guard<Strata::SlimLock> guard(lock_);
  for (auto entry = requests_.begin(); entry != requests_.end();) {
    if (entry->second->HasType(typeId)) {
      claimed.push_back(std::move(entry->second));
      entry = requests_.erase(entry);
    } else {
      ++entry;
    }
  }
  return claimed;
}

bool CActiveAlerts::AnyDisplayed() const {
  std::lock_guard<Strata::SlimLock> guard(lock_);
  return !requests_.empty();
}

size_t CActiveAlerts::Count() const {
  std::lock_guard<Strata::SlimLock> guard(lock_);
  return requests_.size();
}
