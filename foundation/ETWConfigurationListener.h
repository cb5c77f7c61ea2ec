// Applies what a trace session asks for (enable, level) to the event-tracing logger, then lets
// the machine's registry switches override it.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>

#include "ETWAppProperties.h"
#include "LoggingIf.h"

namespace ETWLogging {

class LoggingConfigListenerIf {
 public:
  virtual ~LoggingConfigListenerIf() = default;
  // Runs on the trace controller's thread, possibly inside the provider's registration: it must
  // not log and must not take the logger's lock.
  virtual void OnConfigure(bool enable, DWORD level, ULONG flags) = 0;
  // Attaches only when no logger is attached yet and `logger` is not null.
  virtual bool AttachLogger(CLoggingIf* logger) = 0;
  virtual void GetProviderKey(HKEY* root, std::wstring* path) const = 0;
  virtual void ReadSwitches(HKEY root, const std::wstring& path) = 0;
};

class CETWConfigurationListener : public LoggingConfigListenerIf {
 public:
  CETWConfigurationListener(const internal::ETWAppProperties& properties, CLoggingIf* logger)
      : properties_(properties), logger_(logger) {}

  void OnConfigure(bool enable, DWORD level, ULONG flags) override;
  bool AttachLogger(CLoggingIf* logger) override;
  void GetProviderKey(HKEY* root, std::wstring* path) const override;
  void ReadSwitches(HKEY root, const std::wstring& path) override;

 private:
  const internal::ETWAppProperties properties_;
  // Read by the controller's thread; attached once.
  std::atomic<CLoggingIf*> logger_;
};

}  // namespace ETWLogging
