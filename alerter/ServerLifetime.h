// How long the alerter process serves: while any object (or creation in progress, or a client's
// lock) holds it, then a short delay for a client that comes back, then stopping for good. A
// server that no client ever used ends after a first-client timeout. Once stopping, no creation
// is served any more, so nothing can be created in a process that is about to end.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "Handles.h"

class CServerLifetime {
 public:
  CServerLifetime(DWORD mainThreadId, DWORD shutdownDelayMs, DWORD firstClientTimeoutMs) noexcept;
  ~CServerLifetime();
  CServerLifetime(const CServerLifetime&) = delete;
  CServerLifetime& operator=(const CServerLifetime&) = delete;

  // 0 or the system's error. When the monitor decides to stop it posts WM_QUIT to the main thread.
  DWORD StartMonitor();
  // Waits for the monitor, once it has posted WM_QUIT, to leave its apartment and end.
  void WaitForMonitor() noexcept;
  // Serving could not begin: stopping now, without waiting for a first client.
  void Abandon() noexcept;

  // A hold for a creation or a client's lock; false once stopping.
  bool TryHold() noexcept;
  // Each object holds the server for its whole life.
  void ObjectCreated() noexcept { Hold(); }
  void ObjectDestroyed() noexcept { Release(); }
  void Release() noexcept;
  bool Stopping() const noexcept { return (state_.load() & kStopping) != 0; }
  int64_t Holds() const noexcept { return state_.load() & ~kStopping; }

 private:
  static constexpr int64_t kStopping = int64_t{1} << 62;
  static DWORD WINAPI MonitorStart(void* self) noexcept;

  void Hold() noexcept;
  void Monitor();
  // Stopping, when nothing holds the server at this moment.
  bool TryStop() noexcept;

  const DWORD mainThreadId_;
  const DWORD shutdownDelayMs_;
  const DWORD firstClientTimeoutMs_;
  std::atomic<int64_t> state_{0};     // the hold count, and kStopping once stopping
  std::atomic<bool> served_{false};   // whether any hold was ever taken
  std::atomic<bool> abandoned_{false};
  Strata::UniqueHandle lastRelease_;  // auto-reset; set whenever the hold count drops to 0
  Strata::UniqueHandle monitor_;      // created and waited for by the main thread
};
