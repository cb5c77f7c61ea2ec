#include "StrataLogger.h"

#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>

#include "FormatText.h"
#include "SlimLock.h"

namespace Strata {
namespace {

constexpr DWORD kSlotConflict = 5023;  // ERROR_INVALID_STATE
constexpr wchar_t kSource[] = L"Logging\\internal_logging";

// g_slotLock guards g_handler. A handler is called outside the lock: handlers live until process
// exit (the default one is static, the log instance's lives as long as the instance).
Strata::SlimLock g_slotLock;
ILoggingHandler* g_handler = nullptr;

unsigned int PointerText(const void* p) { return static_cast<unsigned int>(reinterpret_cast<uintptr_t>(p)); }

std::wstring CodeText(DWORD code) { return SystemMessage(code).substr(0, 1024); }

}  // namespace

DWORD CDefaultLoggingHandler::OnLog(int type, const wchar_t* sourceFile, const wchar_t* function, int line,
                                    const wchar_t* text) {
  if (type == kStrataTrace) return 0;
  const wchar_t* format = type == kStrataInfo    ? L"%s(%d): [INFO]: [%s]: %s\n"
                          : type == kStrataError ? L"%s(%d): [ERROR]: [%s]: %s\n"
                                                 : L"%s(%d): [UNKNOWN]: [%s]: %s\n";
  try {
    ::OutputDebugStringW(Format(format, sourceFile ? sourceFile : L"", line, function ? function : L"",
                                text ? text : L"").c_str());
  } catch (const std::bad_alloc&) {
    return ERROR_OUTOFMEMORY;
  }
  return 0;
}

namespace {
// At namespace scope, unguarded (see OnceFlag.h).
CDefaultLoggingHandler g_defaultHandler;
}  // namespace

CDefaultLoggingHandler& CDefaultLoggingHandler::Instance() { return g_defaultHandler; }

ILoggingHandler* CLogger::CurrentHandler() {
  std::lock_guard<Strata::SlimLock> lock(g_slotLock);
  return g_handler;
}

DWORD CLogger::RegisterHandler(ILoggingHandler* handler) {
  if (!handler) {
    LogStrata(kStrataError, kSource, L"Strata::CLogger::RegisterHandler", __LINE__,
              L"%s: Cannot Register (NULL) handler", CodeText(ERROR_INVALID_PARAMETER).c_str());
    return ERROR_INVALID_PARAMETER;
  }
  ILoggingHandler* present = nullptr;
  {
    std::lock_guard<Strata::SlimLock> lock(g_slotLock);
    if (!g_handler || g_handler == handler || g_handler == &CDefaultLoggingHandler::Instance()) {
      g_handler = handler;
      return 0;
    }
    present = g_handler;
  }
  LogStrata(kStrataError, kSource, L"Strata::CLogger::RegisterHandler", __LINE__,
            L"%s: Registered Logging Handler 0x%08X cannot be replaced with 0x%08X", CodeText(kSlotConflict).c_str(),
            PointerText(present), PointerText(handler));
  return kSlotConflict;
}

DWORD CLogger::UnregisterHandler(ILoggingHandler* handler) {
  if (!handler) {
    LogStrata(kStrataError, kSource, L"Strata::CLogger::UnregisterHandler", __LINE__,
              L"%s: Cannot Unregister (NULL) handler", CodeText(ERROR_INVALID_PARAMETER).c_str());
    return ERROR_INVALID_PARAMETER;
  }
  ILoggingHandler* present = nullptr;
  {
    std::lock_guard<Strata::SlimLock> lock(g_slotLock);
    if (g_handler == handler) {
      g_handler = nullptr;
      return 0;
    }
    present = g_handler;
  }
  if (!present) {
    LogStrata(kStrataError, kSource, L"Strata::CLogger::UnregisterHandler", __LINE__,
              L"%s: Request to Unregister Logging handler 0x%08X, but none are registered",
              CodeText(kSlotConflict).c_str(), PointerText(handler));
  } else {
    LogStrata(kStrataError, kSource, L"Strata::CLogger::UnregisterHandler", __LINE__,
              L"%s: Failed to Unregister Logging handler (requested handler 0x%08X != registered handler 0x%08X)",
              CodeText(kSlotConflict).c_str(), PointerText(handler), PointerText(present));
  }
  return kSlotConflict;
}

void LogStrata(int type, const wchar_t* sourceFile, const wchar_t* function, int line, const wchar_t* format, ...) {
  ILoggingHandler* handler = nullptr;
  {
    std::lock_guard<Strata::SlimLock> lock(g_slotLock);
    if (!g_handler) g_handler = &CDefaultLoggingHandler::Instance();
    handler = g_handler;
  }
  va_list args;
  va_start(args, format);
  try {
    std::wstring text = FormatV(format, args);
    handler->OnLog(type, sourceFile, function, line, text.c_str());
  } catch (const std::bad_alloc&) {
    handler->OnLog(kStrataError, sourceFile, function, line, L"General memory-allocation failure in Strata logger.");
  }
  va_end(args);
}

}  // namespace Strata
