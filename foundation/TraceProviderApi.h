// The classic event-tracing provider functions, behind a seam: a trace controller drives a
// provider through its control callback, and only a stand-in for the controller can do that in a
// test (Wine registers a provider but never enables it).
#pragma once

#include <windows.h>
#include <evntrace.h>
#include <wmistr.h>

namespace ETWLogging {

// Declared at namespace scope: GCC turns calls through an interface that it never sees derived
// from in a translation unit into traps when the interface sits in an anonymous namespace.
class TraceProviderApi {
 public:
  virtual ~TraceProviderApi() = default;
  virtual ULONG RegisterTraceGuids(WMIDPREQUEST callback, void* context, const GUID& controlGuid,
                                   TRACE_GUID_REGISTRATION* traceGuid, TRACEHANDLE* registration) = 0;
  // INVALID_HANDLE_VALUE (as a trace handle) with the thread's last error on failure.
  virtual TRACEHANDLE GetTraceLoggerHandle(void* buffer) = 0;
  // 0 with the thread's last error on failure.
  virtual UCHAR GetTraceEnableLevel(TRACEHANDLE session) = 0;
  virtual ULONG GetTraceEnableFlags(TRACEHANDLE session) = 0;
  virtual ULONG TraceEvent(TRACEHANDLE session, EVENT_TRACE_HEADER* header) = 0;
  virtual ULONG UnregisterTraceGuids(TRACEHANDLE registration) = 0;

  // The operating system's functions.
  static TraceProviderApi& System();
};

constexpr TRACEHANDLE kInvalidTraceHandle = static_cast<TRACEHANDLE>(-1);

}  // namespace ETWLogging
