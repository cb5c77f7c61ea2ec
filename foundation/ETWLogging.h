// The event-tracing back end of the diagnostic log. It initialises like the real provider but no
// trace session can enable it yet, so every message is dropped.
#pragma once

#include <atomic>

#include "LoggingIf.h"

namespace ETWLogging {

class CETWLogging : public CLoggingIf_ex {
 public:
  DWORD Initialize(const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix,
                   LoggingConfigListenerIf* listener) override;
  DWORD EnsureReady() override { return kLogOk; }
  DWORD GetModuleLogName(std::wstring*) override { return kLogOk; }
  DWORD GetGroupName(std::wstring*) override { return kLogOk; }
  DWORD Uninitialize() override;
  void SetEnabled(bool enabled) override { enabled_ = enabled; }
  bool IsEnabled() const override { return enabled_; }
  DWORD LogFormat(DWORD, const wchar_t*, const wchar_t*, int, const wchar_t*, ...) override { return kLogOk; }
  DWORD LogText(const wchar_t* sourceFile, const wchar_t* function, int line, DWORD level,
                const wchar_t* text) override {
    return LogTextEx(level, sourceFile, function, line, text);
  }
  // Nothing is listening, so callers need not format anything.
  bool IsLevelEnabled(DWORD) const override { return false; }
  void SetMaxEntries(DWORD) override {}
  DWORD GetMaxEntries() const override { return 0; }
  void SetMaxSize(DWORD) override {}
  DWORD GetMaxSize() const override { return 0; }
  void SetSeverity(DWORD level) override;
  DWORD GetSeverity() const override { return severity_; }
  ULONG AddRef() override { return 0; }
  ULONG Release() override { return 0; }

  DWORD InitializeEx(const wchar_t* product, const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix,
                     LoggingConfigListenerIf* listener) override;
  DWORD LogTextEx(DWORD, const wchar_t*, const wchar_t*, int, const wchar_t*) override { return kLogOk; }

 private:
  std::atomic<bool> initialized_{false};
  std::atomic<bool> enabled_{true};
  std::atomic<DWORD> severity_{kLevelInformation};
};

}  // namespace ETWLogging
