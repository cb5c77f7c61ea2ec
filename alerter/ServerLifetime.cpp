#include "ServerLifetime.h"

#include <objbase.h>

#include "ComApartment.h"
#include "ComGuard.h"
#include "LogInstance.h"

CServerLifetime::CServerLifetime(DWORD mainThreadId, DWORD shutdownDelayMs, DWORD firstClientTimeoutMs) noexcept
    : mainThreadId_(mainThreadId), shutdownDelayMs_(shutdownDelayMs), firstClientTimeoutMs_(firstClientTimeoutMs) {}

CServerLifetime::~CServerLifetime() { WaitForMonitor(); }

void CServerLifetime::WaitForMonitor() noexcept {
  if (monitor_) ::WaitForSingleObject(monitor_.get(), INFINITE);
  monitor_.reset();
}

DWORD CServerLifetime::StartMonitor() {
  if (monitor_) return ERROR_ALREADY_INITIALIZED;
  lastRelease_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!lastRelease_) return ::GetLastError();
  monitor_.reset(::CreateThread(nullptr, 0, &CServerLifetime::MonitorStart, this, 0, nullptr));
  return monitor_ ? 0 : ::GetLastError();
}

void CServerLifetime::Abandon() noexcept {
  abandoned_.store(true);
  state_.fetch_or(kStopping);
  if (lastRelease_) ::SetEvent(lastRelease_.get());
}

bool CServerLifetime::TryHold() noexcept {
  int64_t state = state_.load();
  do {
    if (state & kStopping) return false;
  } while (!state_.compare_exchange_weak(state, state + 1));
  served_.store(true);
  ::CoAddRefServerProcess();
  return true;
}

void CServerLifetime::Hold() noexcept {
  ++state_;
  served_.store(true);
  ::CoAddRefServerProcess();
}

void CServerLifetime::Release() noexcept {
  const int64_t left = --state_ & ~kStopping;
  ::CoReleaseServerProcess();
  if (left == 0 && lastRelease_) ::SetEvent(lastRelease_.get());
}

bool CServerLifetime::TryStop() noexcept {
  int64_t idle = 0;
  return state_.compare_exchange_strong(idle, kStopping);
}

DWORD WINAPI CServerLifetime::MonitorStart(void* self) noexcept {
  return static_cast<DWORD>(GuardHResult([self] {
    static_cast<CServerLifetime*>(self)->Monitor();
    return S_OK;
  }));
}

void CServerLifetime::Monitor() {
  const Strata::MultithreadedApartment com;
  for (;;) {
    const DWORD wait = ::WaitForSingleObject(lastRelease_.get(), served_.load() ? INFINITE : firstClientTimeoutMs_);
    if (abandoned_.load()) break;
    const bool lastReleased = wait == WAIT_OBJECT_0;
    // A client may come back within the delay; then the server goes on. The last release
    // suspended the class objects (on Windows): the returning client needs them at once.
    if (lastReleased) {
      ::CoResumeClassObjects();
      ::Sleep(shutdownDelayMs_);
    }
    if (wait == WAIT_FAILED) {
      state_.fetch_or(kStopping);
      break;
    }
    if (TryStop() || Stopping()) break;
  }
  ZEL_LOG(ETWLogging::kLevelNormal, L"Alerter", L"CAlerterModule::MonitorShutdown", L"Stopping: %s\r\n",
          abandoned_.load() ? L"serving could not begin"
                            : (served_.load() ? L"the last client is gone" : L"no client came"));
  ::PostThreadMessageW(mainThreadId_, WM_QUIT, 0, 0);
}
