#include "TraceProviderApi.h"

#include <new>
#include "OnceFlag.h"

namespace ETWLogging {
namespace {

class SystemTraceProviderApi final : public TraceProviderApi {
 public:
  ULONG RegisterTraceGuids(WMIDPREQUEST callback, void* context, const GUID& controlGuid,
                           TRACE_GUID_REGISTRATION* traceGuid, TRACEHANDLE* registration) override {
    return ::RegisterTraceGuidsW(callback, context, &controlGuid, 1, traceGuid, nullptr, nullptr, registration);
  }
  TRACEHANDLE GetTraceLoggerHandle(void* buffer) override { return ::GetTraceLoggerHandle(buffer); }
  UCHAR GetTraceEnableLevel(TRACEHANDLE session) override { return ::GetTraceEnableLevel(session); }
  ULONG GetTraceEnableFlags(TRACEHANDLE session) override { return ::GetTraceEnableFlags(session); }
  ULONG TraceEvent(TRACEHANDLE session, EVENT_TRACE_HEADER* header) override { return ::TraceEvent(session, header); }
  ULONG UnregisterTraceGuids(TRACEHANDLE registration) override { return ::UnregisterTraceGuids(registration); }
};

}  // namespace

// Made on first use and never destroyed: a logger held by a static object may still unregister
// during process exit.
TraceProviderApi& TraceProviderApi::System() {
  static Strata::OnceFlag made;
  alignas(SystemTraceProviderApi) static unsigned char storage[sizeof(SystemTraceProviderApi)];
  made.Run([] { new (storage) SystemTraceProviderApi(); });
  return *std::launder(reinterpret_cast<SystemTraceProviderApi*>(storage));
}

}  // namespace ETWLogging
