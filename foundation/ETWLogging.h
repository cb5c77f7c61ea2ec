// The event-tracing back end of the diagnostic log, and the one in use by default: a classic
// trace provider that sends one event per message to the session that enabled it, and nothing at
// all while no session has.
#pragma once

#include <windows.h>
#include <evntrace.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "ETWAppProperties.h"
#include "ETWConfigurationListener.h"
#include "LevelGate.h"
#include "LoggingIf.h"
#include "TraceProviderApi.h"
#include "SlimLock.h"

namespace ETWLogging {

class CETWLogging : public CLoggingIf_ex, public LevelPublisher {
 public:
  static constexpr size_t kLongTextLimit = 4160;
  static constexpr size_t kLongTextCut = 2080;

  // The seam and the registry place are the machine's unless a test brings its own.
  explicit CETWLogging(TraceProviderApi& api = TraceProviderApi::System(), RegistryPlace registry = {});
  // Unregisters: a controller must never call back into a library that is about to unload.
  ~CETWLogging() override;
  CETWLogging(const CETWLogging&) = delete;
  CETWLogging& operator=(const CETWLogging&) = delete;

  DWORD Initialize(const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix,
                   LoggingConfigListenerIf* listener) override;
  DWORD EnsureReady() override;
  DWORD GetModuleLogName(std::wstring* name) override;
  DWORD GetGroupName(std::wstring* name) override;
  DWORD Uninitialize() override;
  void SetEnabled(bool enabled) override {
    enabled_ = enabled;
    PublishLevels();
  }
  bool IsEnabled() const override { return enabled_; }
  DWORD LogFormat(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* format,
                  ...) override;
  DWORD LogText(const wchar_t* sourceFile, const wchar_t* function, int line, DWORD level,
                const wchar_t* text) override {
    return LogTextEx(level, sourceFile, function, line, text);
  }
  // False while no session holds the provider, so that callers format nothing; the first test
  // registers the provider, since no session can enable it before.
  bool IsLevelEnabled(DWORD level) const override;
  void SetMaxEntries(DWORD) override {}
  DWORD GetMaxEntries() const override { return 0; }
  void SetMaxSize(DWORD) override {}
  DWORD GetMaxSize() const override { return 0; }
  void SetSeverity(DWORD level) override;
  DWORD GetSeverity() const override { return severity_; }
  ULONG AddRef() override { return 0; }
  ULONG Release() override { return 0; }

  // Takes ownership of `listener`; without one, the logger makes its own.
  DWORD InitializeEx(const wchar_t* product, const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix,
                     LoggingConfigListenerIf* listener) override;
  DWORD LogTextEx(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line,
                  const wchar_t* text) override;

  // The session whose events this logger sends, 0 while none.
  TRACEHANDLE SessionHandle() const { return session_; }
  const internal::ETWAppProperties& Properties() const { return properties_; }

 private:
  static ULONG WINAPI ControlCallback(WMIDPREQUESTCODE code, void* context, ULONG* size, void* buffer) noexcept;
  ULONG OnEnable(void* buffer);
  ULONG OnDisable(void* buffer);
  bool Accepts(DWORD level) const;
  // "Ask the logger" until the provider is registered, so that the first level test registers it.
  void PublishLevels() const;
  DWORD Register() const;
  ULONG UnregisterLocked() const;
  DWORD InitializeIdentity(const wchar_t* group, const wchar_t* module);
  DWORD Send(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* text);

  TraceProviderApi& api_;

  // Changed by the controller's thread without a lock, read by callers' threads.
  std::atomic<bool> enabled_{true};
  std::atomic<DWORD> severity_{kLevelInformation};
  std::atomic<TRACEHANDLE> session_{0};

  // registrationLock_ guards registration_ and the decision to register; registered_ is also read
  // without it, to skip the lock once the decision is made. Mutable: the first level test
  // registers.
  mutable Strata::SlimLock registrationLock_;
  mutable std::atomic<bool> registered_{false};
  mutable TRACEHANDLE registration_ = 0;
  mutable TRACE_GUID_REGISTRATION traceGuid_{};

  // Written by InitializeEx only while the provider is not registered (it refuses otherwise), so
  // no callback runs meanwhile; read-only while one can.
  internal::ETWAppProperties properties_;
  std::unique_ptr<LoggingConfigListenerIf> listener_;
  std::wstring group_;
  std::wstring executableFileName_;
  std::wstring moduleBaseName_;
  std::wstring moduleLogName_;
  std::wstring libraryFileName_;
  std::wstring libraryVersion_;
  DWORD processId_ = 0;
};

}  // namespace ETWLogging
