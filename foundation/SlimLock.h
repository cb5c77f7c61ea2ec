// A reader-writer lock on the system's slim reader-writer lock, for std::unique_lock and
// std::shared_lock. Under MinGW the C++ runtime's std::shared_mutex is a winpthreads rwlock, made
// on first use: in a library the service had just loaded and called from several threads at once,
// callers were seen to pass a writer that held it, and its condition variable is never given back
// when the library is unloaded. The slim lock needs no setting up and holds nothing to give back.
#pragma once

#include <windows.h>

namespace Strata {

class SlimLock {
 public:
  SlimLock() = default;
  SlimLock(const SlimLock&) = delete;
  SlimLock& operator=(const SlimLock&) = delete;

  void lock() { ::AcquireSRWLockExclusive(&lock_); }
  bool try_lock() { return ::TryAcquireSRWLockExclusive(&lock_) != FALSE; }
  void unlock() { ::ReleaseSRWLockExclusive(&lock_); }
  void lock_shared() { ::AcquireSRWLockShared(&lock_); }
  bool try_lock_shared() { return ::TryAcquireSRWLockShared(&lock_) != FALSE; }
  void unlock_shared() { ::ReleaseSRWLockShared(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

}  // namespace Strata
