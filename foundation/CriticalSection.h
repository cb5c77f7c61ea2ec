// A lock that the thread holding it may take again, for std::lock_guard: for state guarded across
// a call into another component, which may call back into this library on the same thread (an
// event raised from inside the call, a message loop during an outgoing call).
#pragma once

#include <windows.h>

namespace Strata {

class CriticalSection {
 public:
  CriticalSection() { ::InitializeCriticalSection(&section_); }
  ~CriticalSection() { ::DeleteCriticalSection(&section_); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;

  void lock() { ::EnterCriticalSection(&section_); }
  bool try_lock() { return ::TryEnterCriticalSection(&section_) != FALSE; }
  void unlock() { ::LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

}  // namespace Strata
