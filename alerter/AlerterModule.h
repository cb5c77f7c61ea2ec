// The alerter program as an executable COM server: registration switches, or serving the Alert
// class until its lifetime says to stop.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "AlertClassFactory.h"
#include "AlertEngine.h"
#include "ServerLifetime.h"

class CAlerterModule {
 public:
  CAlerterModule() = default;
  ~CAlerterModule();
  CAlerterModule(const CAlerterModule&) = delete;
  CAlerterModule& operator=(const CAlerterModule&) = delete;

  // A delay for a client that comes back after the last release, and how long a server waits for
  // its first client before it ends unused.
  static constexpr DWORD kShutdownDelayMs = 5000;
  static constexpr DWORD kFirstClientTimeoutMs = 20000;
  static constexpr DWORD kPauseAfterRevokeMs = 1000;

  // The program's exit code: a registration result, or how serving ended.
  HRESULT Run(const wchar_t* commandLine) noexcept;

 private:
  HRESULT Serve();

  // Whatever COM may still reach while it uninitialises (stubs release the class object and
  // objects then) lives until the module ends, after COM. Set by Run's thread only.
  std::unique_ptr<CServerLifetime> lifetime_;
  std::unique_ptr<CAlertEngine> engine_;
  std::unique_ptr<CAlertClassFactory> factory_;
};
