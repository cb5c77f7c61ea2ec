#include "LoggingIf.h"

#include <cstdarg>

#include "FormatText.h"

namespace ETWLogging {

const wchar_t* LevelName(DWORD level) noexcept {
  switch (level) {
    case kLevelNormal: return L"Normal";
    case kLevelWarning: return L"Warning";
    case kLevelInformation: return L"Information";
    case kLevelError: return L"Error";
    case kLevelCritical: return L"Critical";
    case kLevelInformation6: return L"Information";
    default: return nullptr;
  }
}

DWORD CLoggingIf::FormatAndLog(DWORD level, const wchar_t* sourceFile, const wchar_t* function, int line,
                               const wchar_t* format, va_list args) {
  wchar_t text[kFormatCapacity];
  Strata::FormatIntoV(text, kFormatCapacity, format, args);
  return LogText(sourceFile, function, line, level, text);
}

#define ZEL_FIXED_LEVEL_OPERATION(name, level)                                                           \
  DWORD CLoggingIf::name(const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* format, \
                         ...) {                                                                          \
    va_list args;                                                                                        \
    va_start(args, format);                                                                              \
    DWORD result = FormatAndLog(level, sourceFile, function, line, format, args);                        \
    va_end(args);                                                                                        \
    return result;                                                                                       \
  }

ZEL_FIXED_LEVEL_OPERATION(LogNormal, kLevelNormal)
ZEL_FIXED_LEVEL_OPERATION(LogError, kLevelError)
ZEL_FIXED_LEVEL_OPERATION(LogWarning, kLevelWarning)
ZEL_FIXED_LEVEL_OPERATION(LogCritical, kLevelCritical)
ZEL_FIXED_LEVEL_OPERATION(LogInformation, kLevelInformation)
#undef ZEL_FIXED_LEVEL_OPERATION

}  // namespace ETWLogging
