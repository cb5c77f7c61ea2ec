// The event-handler library's report-logging thread: callers post items to its message queue and
// never wait for the report log; the worker hands each item to the bridge library's logger.
#pragma once

#include <windows.h>

#include <memory>
#include <mutex>

#include <wrl/client.h>

#include "Handles.h"
#include "ZelTARN.h"

// Thread messages; WPARAM carries the item, which the worker owns once the post succeeds.
enum : UINT {
  WM_LOG_EVENT = WM_USER + 1,
  WM_LOG_USER_INFO = WM_USER + 2,
};

// Event type codes of IZelLogger::LogEvent.
enum : long {
  LogEvent_UrlBlocked = 0,
  LogEvent_TimeLimit = 1,
  LogEvent_PersonalInfo = 2,
  LogEvent_Keyword = 3,
  LogEvent_ImageBlocked = 4,
  LogEvent_UrlVisited = 5,
};

// One event for LogEvent. A null text stays a null BSTR.
struct CLogEventItem {
  long eventType;
  Strata::UniqueBstr webPage;
  Strata::UniqueBstr content;
  unsigned long session;
};

// One user change for LogInfoUser: action 1 = created, 0 = deleted.
struct CLogUserInfoItem {
  long action;
  Strata::UniqueBstr targetUserName;
  Strata::UniqueBstr responsibleUserName;
};

struct LoggingThreadSettings {
  // The class the worker creates its logger from.
  CLSID loggerClass = CLSID_ZelLogger;
  // How long the constructor waits for the worker's queue before it gives up on it.
  DWORD readyTimeoutMs = 5000;
  // Test seam: when set, the worker waits for this event before it starts, so that a test can end
  // the thread before it ever ran. The handle must outlive the worker.
  HANDLE startGate = nullptr;
  // How many items may wait for the worker. Windows refuses posts past a thread's quota (10,000
  // messages by default); Wine has none, so the bound is kept here as well, and a test can lower it.
  long maxQueuedItems = 10000;
  // While the report log cannot be reached, items wait in a backlog of this many and the worker
  // asks again every retry interval.
  size_t maxBacklogItems = 1000;
  DWORD retryIntervalMs = 1000;
};

class CLoggingThread {
 public:
  // Starts the worker and waits (bounded) until its message queue exists, so that the first post
  // cannot fail for want of a queue.
  explicit CLoggingThread(const LoggingThreadSettings& settings = LoggingThreadSettings());
  ~CLoggingThread();
  CLoggingThread(const CLoggingThread&) = delete;
  CLoggingThread& operator=(const CLoggingThread&) = delete;

  // Any thread. False when the item could not be built or posted; the event is then dropped.
  BOOL queueEvent(long eventType, const wchar_t* webPage, const wchar_t* content, unsigned long session);
  BOOL queueUserInfo(long action, const wchar_t* targetUserName, const wchar_t* responsibleUserName);

  // Serves everything queued so far, then ends the worker; a worker stuck for 10 seconds is left to
  // end by itself when its call returns.
  // A worker that never ran is told to return at once and is not waited for.
  void Terminate();
  // Asks the worker to finish what is queued and end, without waiting: for the library's unload,
  // where waiting for a thread under the loader lock can deadlock.
  void Abandon();

  DWORD ThreadId() const { return threadId_; }

  // How long Terminate waits for the worker before leaving it behind.
  static constexpr DWORD kStopTimeoutMs = 10000;

  // What the worker and the object share. The worker holds its own reference, so the object can go
  // before a worker that has not run yet.
  struct WorkerState;

 private:
  BOOL post(UINT message, void* item);

  std::shared_ptr<WorkerState> state_;
  // Written by the constructor and Terminate only; read by posting threads, which run only while
  // the object is alive and not terminating.
  Strata::UniqueHandle thread_;
  DWORD threadId_ = 0;
};
