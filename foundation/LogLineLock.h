// The lock around one line's append, taken by every process that writes one module's log files.
// Appends need it because Wine places an append by computing the end and then writing, so two
// processes can place lines at one offset; Windows appends atomically, yet the lock costs little.
// Taking the machine-wide mutex for every line cost two round trips to the system each, most of a
// line's time, so the lock is a word in a machine-wide shared section, taken with one atomic
// exchange when no other process holds it. Rotation and log.ini rewrites still take the mutex.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "Handles.h"

namespace ETWLogging {

class LogLineLock {
 public:
  // The section of the module's files. When it cannot be had (a process of a user session may not
  // create a machine-wide section before a service has), `fallback` (the module's mutex) is taken.
  LogLineLock(const std::wstring& moduleBaseName, HANDLE fallback);
  ~LogLineLock();
  LogLineLock(const LogLineLock&) = delete;
  LogLineLock& operator=(const LogLineLock&) = delete;

  class Held {
   public:
    Held() = default;
    Held(Held&& other) noexcept : lock_(other.lock_), value_(other.value_), mutex_(std::move(other.mutex_)) {
      other.lock_ = nullptr;
    }
    Held& operator=(Held&&) = delete;
    ~Held();

   private:
    friend class LogLineLock;
    LogLineLock* lock_ = nullptr;  // set while this holds the section's word
    int64_t value_ = 0;            // what this put in the word
    Strata::MutexLock mutex_;
  };

  // Waits up to `timeoutMs`. A holder whose process has ended is replaced at once; one that holds
  // the lock past the time-out is replaced too, so that a hung process costs one wait, not one per
  // line.
  Held Acquire(DWORD timeoutMs);

  // Whether the lock lives in the shared section (false: it is the fallback mutex).
  bool Shared() const noexcept { return word_ != nullptr; }

  // The section's name without its namespace prefix.
  static std::wstring SectionName(const std::wstring& moduleBaseName);
  // What the word holds for a holder: its process id in the high half, its thread id in the low.
  static int64_t OwnerValue(DWORD processId, DWORD threadId) noexcept {
    return static_cast<int64_t>((static_cast<uint64_t>(processId) << 32) | threadId);
  }

 private:
  bool TryTake(int64_t expected, int64_t* taken) noexcept;
  void Release(int64_t taken) noexcept;

  Strata::UniqueHandle section_;
  volatile int64_t* word_ = nullptr;
  HANDLE fallback_;
};

}  // namespace ETWLogging
