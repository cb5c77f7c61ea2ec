// A thread owned by an object: started once, stopped by asking the body to end and waiting for it.
#pragma once

#include <windows.h>

#include "Handles.h"

class CKyThread {
 public:
  CKyThread() = default;
  virtual ~CKyThread() = default;
  CKyThread(const CKyThread&) = delete;
  CKyThread& operator=(const CKyThread&) = delete;

  // 0, ERROR_ALREADY_INITIALIZED (1247) when the thread runs already, or the system's error.
  DWORD Start();
  // Asks the body to end and waits for it; nothing when no thread runs. A derived class calls it
  // from its own destructor, while Run and Signal can still be called.
  void Stop() noexcept;
  bool IsRunning() const noexcept { return thread_.valid(); }

 protected:
  virtual void Run() = 0;
  virtual void Signal() noexcept = 0;

 private:
  static DWORD WINAPI ThreadStart(void* self) noexcept;

  // Start and Stop are called by the owner's thread only.
  Strata::UniqueHandle thread_;
};
