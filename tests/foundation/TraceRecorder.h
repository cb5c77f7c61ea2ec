// Stands in for the event-tracing system behind the provider seam: records registrations, events
// and unregistrations, and plays the trace controller by calling the provider's control callback
// with a session handle, as the system does.
#pragma once

#include <windows.h>
#include <evntrace.h>
#include <wmistr.h>

#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "TraceProviderApi.h"

namespace ZelTest {

class TraceRecorder : public ETWLogging::TraceProviderApi {
 public:
  struct Registration {
    GUID controlGuid;
    GUID traceGuid;
    WMIDPREQUEST callback;
    void* context;
    TRACEHANDLE handle;
    bool live;
  };
  struct Event {
    TRACEHANDLE session;
    EVENT_TRACE_HEADER header;
    MOF_FIELD field;
    std::vector<BYTE> payload;
  };

  // What registration answers, how long it takes, and what the controller does inside it.
  ULONG registrationResult = ERROR_SUCCESS;
  DWORD registrationDelayMs = 0;
  std::function<void()> duringRegistration;

  ULONG RegisterTraceGuids(WMIDPREQUEST callback, void* context, const GUID& controlGuid,
                           TRACE_GUID_REGISTRATION* traceGuid, TRACEHANDLE* registration) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      *registration = 0x5000 + registrations_.size();
      registrations_.push_back({controlGuid, *traceGuid->Guid, callback, context, *registration, true});
    }
    if (registrationDelayMs) ::Sleep(registrationDelayMs);
    if (duringRegistration) duringRegistration();
    return registrationResult;
  }
  TRACEHANDLE GetTraceLoggerHandle(void* buffer) override {
    TRACEHANDLE session = static_cast<WNODE_HEADER*>(buffer)->HistoricalContext;
    if (session != 0) return session;
    ::SetLastError(ERROR_INVALID_HANDLE);
    return ETWLogging::kInvalidTraceHandle;
  }
  UCHAR GetTraceEnableLevel(TRACEHANDLE session) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = sessions_.find(session);
    if (found == sessions_.end()) ::SetLastError(ERROR_INVALID_HANDLE);
    return found == sessions_.end() ? 0 : found->second.level;
  }
  ULONG GetTraceEnableFlags(TRACEHANDLE session) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = sessions_.find(session);
    return found == sessions_.end() ? 0 : found->second.flags;
  }
  ULONG TraceEvent(TRACEHANDLE session, EVENT_TRACE_HEADER* header) override {
    auto* field = reinterpret_cast<MOF_FIELD*>(header + 1);
    const auto* data = reinterpret_cast<const BYTE*>(field->DataPtr);
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back({session, *header, *field, std::vector<BYTE>(data, data + field->Length)});
    return ERROR_SUCCESS;
  }
  ULONG UnregisterTraceGuids(TRACEHANDLE registration) override {
    std::lock_guard<std::mutex> lock(mutex_);
    unregistrations_.push_back(registration);
    for (Registration& entry : registrations_)
      if (entry.handle == registration) entry.live = false;
    return ERROR_SUCCESS;
  }

  // The controller's side. Each request goes to the live registration, on the calling thread;
  // ERROR_INVALID_HANDLE when there is none (nothing is called).
  ULONG Enable(TRACEHANDLE session, UCHAR level, ULONG flags = 0) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sessions_[session] = {level, flags};
    }
    return Request(WMI_ENABLE_EVENTS, session);
  }
  ULONG Disable(TRACEHANDLE session) { return Request(WMI_DISABLE_EVENTS, session); }
  ULONG Request(WMIDPREQUESTCODE code, TRACEHANDLE session) {
    Registration live{};
    if (!LiveRegistration(&live)) return ERROR_INVALID_HANDLE;
    WNODE_HEADER node{};
    node.BufferSize = sizeof(node);
    node.HistoricalContext = session;
    ULONG size = sizeof(node);
    return live.callback(code, live.context, &size, &node);
  }
  // The system calls providers back on threads of its own.
  ULONG EnableFromAnotherThread(TRACEHANDLE session, UCHAR level) {
    ULONG result = 0;
    std::thread([&] { result = Enable(session, level); }).join();
    return result;
  }

  std::vector<Registration> Registrations() const { return Copy(registrations_); }
  std::vector<TRACEHANDLE> Unregistrations() const { return Copy(unregistrations_); }
  std::vector<Event> Events() const { return Copy(events_); }

 private:
  struct SessionAnswer {
    UCHAR level;
    ULONG flags;
  };
  bool LiveRegistration(Registration* live) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Registration& entry : registrations_)
      if (entry.live) *live = entry;
    return live->callback != nullptr;
  }
  template <typename T>
  T Copy(const T& records) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records;
  }

  mutable std::mutex mutex_;  // guards every record below; never held while calling back
  std::vector<Registration> registrations_;
  std::vector<TRACEHANDLE> unregistrations_;
  std::vector<Event> events_;
  std::map<TRACEHANDLE, SessionAnswer> sessions_;
};

}  // namespace ZelTest
