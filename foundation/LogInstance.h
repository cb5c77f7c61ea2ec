// The process's diagnostic log and the one call form every part of the system writes through:
//   ZEL_LOG(ETWLogging::kLevelError, L"Alert", L"CAlert::_ShowAlert", L"Failed with 0x%08X\r\n", hr);
// The level is tested before anything is formatted. Texts from outside (URLs, user names,
// registry values) are passed as arguments, never as the format.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <memory>
#include <string>

#include "LoggingIf.h"
#include "StrataLogger.h"

struct LogIdentity {
  // Null pointers stand for "not given".
  const wchar_t* product;
  const wchar_t* group;
  const wchar_t* module;
  const wchar_t* hostSuffix;
  DWORD mechanism;
};

class CLogInstance;

// Forwards the Strata classes' reports into the instance that registered it.
class CStrataLogHandler : public Strata::ILoggingHandler {
 public:
  explicit CStrataLogHandler(CLogInstance& instance) : instance_(instance) {}
  DWORD OnLog(int type, const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* text) override;

 private:
  CLogInstance& instance_;
};

class CLogInstance {
 public:
  CLogInstance() = default;
  ~CLogInstance();
  CLogInstance(const CLogInstance&) = delete;
  CLogInstance& operator=(const CLogInstance&) = delete;

  // Builds the logger for an identity and takes over the Strata handler slot; without a logger,
  // every write answers 1627.
  DWORD Create(const LogIdentity& identity, const ETWLogging::LogConfigSource* configSource = nullptr);

  // Takes a logger, deleting the one held before.
  void SetLogger(std::unique_ptr<ETWLogging::CLoggingIf> logger) { logger_ = std::move(logger); }
  ETWLogging::CLoggingIf* Logger() const { return logger_.get(); }
  bool HasStrataHandler() const { return strataHandler_ != nullptr; }
  bool IsEnabled(DWORD level) const { return logger_ && logger_->IsLevelEnabled(level); }

  // Formats and writes one message; texts are cut as the back end's interface demands.
  DWORD WriteV(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* format,
               va_list args);
  // Writes an already formatted text whatever its level.
  DWORD WriteText(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* text);

  // Plain-path texts longer than this are cut to kPlainCutLength; shorter ones pass whole.
  static constexpr size_t kPlainLimit = 4160;
  static constexpr size_t kPlainCutLength = 2080;
  // The extended path formats into a buffer of this many characters, terminator included.
  static constexpr size_t kExtendedCapacity = 2080;

 private:
  // Deleted, not released: the instance owns its logger.
  std::unique_ptr<ETWLogging::CLoggingIf> logger_;
  std::unique_ptr<CStrataLogHandler> strataHandler_;
};

// Sets the identity the log instance is created with; later changes have no effect on it.
void SetLogIdentity(const wchar_t* product, const wchar_t* group, const wchar_t* module, const wchar_t* hostSuffix,
                    DWORD mechanism);
// A library's first diagnostic step, taken by its first entry point rather than by DllMain (where
// creating the log would run under the loader lock): sets the identity with `group` and writes
// `startFormat` with the library's version as its one argument. True only for the call that did it.
bool StartLibraryLog(const wchar_t* group, const wchar_t* sourceFile, const wchar_t* function,
                     const wchar_t* startFormat);
// The process's log instance, created on first call; null when it could not be created.
CLogInstance* GetLogInstance();
bool LogIsEnabled(DWORD level);
DWORD LogWrite(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* format, ...);

#define ZEL_LOG(level, sourceFile, function, format, ...)                                      \
  do {                                                                                         \
    if (LogIsEnabled(level)) LogWrite((level), (sourceFile), (function), __LINE__, (format), ##__VA_ARGS__); \
  } while (0)
