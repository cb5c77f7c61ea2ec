// The diagnostic logger's abstract interfaces: loggers, their factory and the Strata handler slot.
#pragma once

#include <windows.h>

#include <string>

namespace ETWLogging {

// Result codes shared by the loggers (Windows error codes where one fits).
enum : DWORD {
  kLogOk = 0,
  kLogOutOfMemory = ERROR_OUTOFMEMORY,             // 14
  kLogInvalidParameter = ERROR_INVALID_PARAMETER,  // 87
  kLogNoLogger = ERROR_FUNCTION_FAILED,            // 1627
  kLogAlreadyInitialized = 20001,
  kLogNotInitialized = 20002,
};

// Severity levels. Level 6 is a second "Information" without a convenience operation.
enum : DWORD {
  kLevelNormal = 1,
  kLevelWarning = 2,
  kLevelInformation = 3,
  kLevelError = 4,
  kLevelCritical = 5,
  kLevelInformation6 = 6,
};

// The printed name of a level, or null for a value that is not a level.
const wchar_t* LevelName(DWORD level) noexcept;

// Receives configuration changes pushed by a trace controller; only the event-tracing logger uses it.
class LoggingConfigListenerIf;

// The virtual operations keep this order: loggers built by one copy of the library are called
// through another copy's view of the interface.
class CLoggingIf {
 public:
  virtual ~CLoggingIf() = default;
  virtual DWORD Initialize(const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix,
                           LoggingConfigListenerIf* listener) = 0;
  virtual DWORD EnsureReady() = 0;
  virtual DWORD GetModuleLogName(std::wstring* name) = 0;
  virtual DWORD GetGroupName(std::wstring* name) = 0;
  virtual DWORD Uninitialize() = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool IsEnabled() const = 0;
  virtual DWORD LogFormat(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line,
                          const wchar_t* format, ...) = 0;
  virtual DWORD LogText(const wchar_t* sourceFile, const wchar_t* function, int line, DWORD level,
                        const wchar_t* text) = 0;
  virtual bool IsLevelEnabled(DWORD level) const = 0;
  virtual void SetMaxEntries(DWORD entries) = 0;
  virtual DWORD GetMaxEntries() const = 0;
  virtual void SetMaxSize(DWORD bytes) = 0;
  virtual DWORD GetMaxSize() const = 0;
  virtual void SetSeverity(DWORD level) = 0;
  virtual DWORD GetSeverity() const = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;
  // Fixed-level operations: they format and write without testing Enable or the level.
  virtual DWORD LogNormal(const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* format, ...);
  virtual DWORD LogError(const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* format, ...);
  virtual DWORD LogWarning(const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* format, ...);
  virtual DWORD LogCritical(const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* format, ...);
  virtual DWORD LogInformation(const wchar_t* sourceFile, const wchar_t* function, int line,
                               const wchar_t* format, ...);

  // Largest text the formatting operations produce, terminator included.
  static constexpr size_t kFormatCapacity = 4160;

 protected:
  DWORD FormatAndLog(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line,
                     const wchar_t* format, va_list args);
};

class CLoggingIf_ex : public CLoggingIf {
 public:
  virtual DWORD InitializeEx(const wchar_t* product, const wchar_t* group, const wchar_t* module,
                             const wchar_t* hostSuffix, LoggingConfigListenerIf* listener) = 0;
  virtual DWORD LogTextEx(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line,
                          const wchar_t* text) = 0;
};

// Where the factory reads "Logging Mechanism" instead of the machine's logging key.
struct LogConfigSource {
  HKEY root;
  std::wstring path;
};

enum : DWORD { kMechanismFromRegistry = 0, kMechanismFile = 1 };

class CLogBuilderIf {
 public:
  virtual ~CLogBuilderIf() = default;
  virtual DWORD Build(const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix, DWORD mechanism,
                      CLoggingIf** logger, const LogConfigSource* configSource) = 0;
};

class CLogBuilderIf_ex : public CLogBuilderIf {
 public:
  virtual DWORD BuildEx(const wchar_t* product, const wchar_t* group, const wchar_t* module,
                        const wchar_t* hostSuffix, DWORD mechanism, CLoggingIf** logger,
                        const LogConfigSource* configSource) = 0;
};

}  // namespace ETWLogging
