// The requests handed to the library with a notification, by the id the library gets as context:
// a notification for an id that is no longer here (closed, purged, failed) finds nothing. Every
// member returns the requests it removes, so that they are discarded (and their CAlert released)
// after the lock is gone.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "AlertRequest.h"
#include "SlimLock.h"

class CActiveAlerts {
 public:
  // The new request's id, or 0 (and nothing added) when a same alert is displayed already.
  uint64_t AddUnlessSame(const AlertRequestPtr& request);
  // Stores the library's handle when the request is still here; false when it is not.
  bool SetHandle(uint64_t id, uint32_t handle);
  // Takes the request out; null for an unknown id.
  AlertRequestPtr Claim(uint64_t id);
  std::vector<AlertRequestPtr> ClaimType(const AlertRequest::Text& typeId);
  bool AnyDisplayed() const;
  size_t Count() const;

 private:
  mutable Strata::SlimLock lock_;
  uint64_t lastId_ = 0;                          // guarded by lock_
  std::map<uint64_t, AlertRequestPtr> requests_;  // guarded by lock_
};
