// The Strata classes' own diagnostics: one handler slot that the process log plugs into.
#pragma once

#include <windows.h>

namespace Strata {

enum : int { kStrataTrace = 0, kStrataInfo = 1, kStrataError = 2 };

class ILoggingHandler {
 public:
  virtual ~ILoggingHandler() = default;
  virtual DWORD OnLog(int type, const wchar_t* sourceFile, const wchar_t* function, int line,
                      const wchar_t* text) = 0;
};

// Sends Strata reports to the debugger output; the slot's occupant until the process log takes over.
class CDefaultLoggingHandler : public ILoggingHandler {
 public:
  DWORD OnLog(int type, const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* text) override;
  static CDefaultLoggingHandler& Instance();
};

class CLogger {
 public:
  static DWORD RegisterHandler(ILoggingHandler* handler);
  static DWORD UnregisterHandler(ILoggingHandler* handler);
  // The handler in the slot, or null.
  static ILoggingHandler* CurrentHandler();
};

// Formats a Strata report (any length) and hands it to the registered handler, installing the
// default handler first when the slot is empty.
void LogStrata(int type, const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* format, ...);

}  // namespace Strata
