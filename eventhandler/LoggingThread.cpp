#include "LoggingThread.h"

#include <atomic>
#include <deque>
#include <new>

#include "CallResult.h"
#include "CreateInstanceViaFactory.h"
#include "GuardedCall.h"
#include "LogInstance.h"
#include "SlimLock.h"

using Microsoft::WRL::ComPtr;
using ETWLogging::kLevelError;
using ETWLogging::kLevelInformation;
using ETWLogging::kLevelNormal;
using ETWLogging::kLevelWarning;

namespace {

constexpr wchar_t kSource[] = L"LoggingThread";
// Failures where the write never reached the report log: its server is gone, or its class is not
// registered again yet while it restarts. A failure where the call may have reached it
// (RPC_S_CALL_FAILED, for one) is never retried, so that nothing is written twice.
bool ReportLogUnreached(HRESULT hr) {
  constexpr HRESULT kServerUnavailable = static_cast<HRESULT>(0x800706BAL);  // RPC_S_SERVER_UNAVAILABLE
  return hr == kServerUnavailable || hr == REGDB_E_CLASSNOTREG || hr == CO_E_SERVER_EXEC_FAILURE ||
         hr == CO_E_SERVER_STOPPING;
}

// Null input stays null; true unless a copy could not be allocated.
bool CopyText(const wchar_t* text, Strata::UniqueBstr* copy) {
  if (!text) return true;
  copy->reset(::SysAllocString(text));
  return copy->valid();
}

const wchar_t* OrNull(BSTR text) { return text ? text : L"null"; }

// Releases a logger after clearing the field that held it.
void DropLogger(ComPtr<IZelLogger>& field) {
  ComPtr<IZelLogger> old;
  old.Swap(field);
}

}  // namespace

struct CLoggingThread::WorkerState {
  explicit WorkerState(const LoggingThreadSettings& settings) : settings(settings) {}

  enum class Outcome { Done, Unreached };
  // One item of either kind, owned by the worker from the moment it takes the message.
  struct Pending {
    std::unique_ptr<CLogEventItem> event;
    std::unique_ptr<CLogUserInfoItem> userInfo;
  };

  void run();
  IZelLogger* getLogger();
  Outcome logEvent(const CLogEventItem& item);
  Outcome logUserInfo(const CLogUserInfoItem& item);
  // Serves an item under a structured exception handler, which catches access violations too. The
  // item is owned outside the guarded frames, so that it is freed even when the logger call faults
  // (destructors in faulted frames do not run); an item whose call faulted is not tried again.
  template <typename Item, Outcome (WorkerState::*Serve)(const Item&)>
  Outcome serveGuarded(const Item& item, const wchar_t* caughtFormat) {
    struct Call {
      WorkerState* state;
      const Item* item;
      Outcome outcome;
    } call{this, &item, Outcome::Done};
    DWORD code = CallGuarded(
        [](void* context) {
          auto* call = static_cast<Call*>(context);
          call->outcome = (call->state->*Serve)(*call->item);
        },
        &call);
    if (code == 0) return call.outcome;
    ZEL_LOG(ETWLogging::kLevelError, L"LoggingThread", L"CLoggingThread::run", caughtFormat, code);
    return Outcome::Done;
  }
  Outcome Unreached(HRESULT hr);
  Outcome serve(const Pending& item);
  // Items wait in the backlog, in order, while the report log cannot be reached; a new item goes
  // behind them.
  void accept(Pending item);
  void retryBacklog();
  void reportDropped();
  // Items of messages that will never be served: those behind the quit request.
  static void freeUnservedItems();

  const LoggingThreadSettings settings;
  // Signalled once the worker's queue exists (or the worker returned without one).
  Strata::UniqueHandle ready{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

  // Makes the worker's test of terminating and its setting of running one step against Terminate.
  // Abandon sets terminating without it: at unload the worker may have been killed holding it.
  Strata::SlimLock lock;
  std::atomic<bool> terminating{false};
  bool running = false;  // guarded by lock

  // Items posted and not yet taken by the worker.
  std::atomic<long> queued{0};

  // Used by the worker only: items waiting for the report log to answer again, and how many of an
  // outage were dropped because the backlog was full.
  std::deque<Pending> backlog;
  long dropped = 0;

  // Used by the worker only. The library of the first logger stays loaded until the worker ends:
  // the service frees unused libraries from its own threads, which would otherwise unload it
  // whenever a dropped logger's Release has counted its last object but not yet returned.
  Strata::UniqueModule loggerLibrary;
  ComPtr<IZelLogger> logger;
};

namespace {

// What the worker owns: one reference to the shared state and one to this library, taken by the
// creating thread, so that neither goes away under a worker that starts late or finishes on its own.
struct WorkerStart {
  std::shared_ptr<CLoggingThread::WorkerState> state;
  HMODULE library;
};

DWORD WINAPI WorkerProc(void* parameter);

HMODULE PinThisLibrary() { return Strata::PinLibraryAt(reinterpret_cast<const void*>(&WorkerProc)).release(); }

DWORD WINAPI WorkerProc(void* parameter) {
  std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(parameter));
  start->state->run();
  HMODULE library = start->library;
  start.reset();
  if (library) ::FreeLibraryAndExitThread(library, 0);
  return 0;
}

}  // namespace

void CLoggingThread::WorkerState::run() {
  if (settings.startGate) ::WaitForSingleObject(settings.startGate, INFINITE);
  {
    std::lock_guard<Strata::SlimLock> guard(lock);
    if (terminating) {
      ::SetEvent(ready.get());
      return;
    }
    ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    MSG peeked;
    ::PeekMessageW(&peeked, nullptr, 0, 0, PM_NOREMOVE);
    running = true;
  }
  ::SetEvent(ready.get());
  ZEL_LOG(kLevelNormal, kSource, L"CLoggingThread::run", L"Logging thread is running\r\n");

  for (bool quit = false; !quit;) {
    // While items wait for the report log, it is asked again every retry interval.
    const DWORD timeout = backlog.empty() ? INFINITE : settings.retryIntervalMs;
    const DWORD wait = ::MsgWaitForMultipleObjectsEx(0, nullptr, timeout, QS_ALLPOSTMESSAGE, MWMO_INPUTAVAILABLE);
    if (wait == WAIT_FAILED) break;
    if (wait == WAIT_TIMEOUT) {
      retryBacklog();
      continue;
    }
    MSG message;
    while (!quit && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      quit = message.message == WM_QUIT;
      if (message.message != WM_LOG_EVENT && message.message != WM_LOG_USER_INFO) continue;
      --queued;
      Pending item;
      if (message.message == WM_LOG_EVENT)
        item.event.reset(reinterpret_cast<CLogEventItem*>(message.wParam));
      else
        item.userInfo.reset(reinterpret_cast<CLogUserInfoItem*>(message.wParam));
      accept(std::move(item));
    }
  }

  // A last try for what still waits; what the report log does not take now is dropped and counted.
  retryBacklog();
  dropped += static_cast<long>(backlog.size());
  backlog.clear();
  reportDropped();
  freeUnservedItems();
  DropLogger(logger);
  ::CoUninitialize();
  loggerLibrary.reset();
  ZEL_LOG(kLevelNormal, kSource, L"CLoggingThread::run", L"Logging thread is exiting\r\n");
  std::lock_guard<Strata::SlimLock> guard(lock);
  running = false;
}

// A logger whose report log could not be reached has given it up for good, so the next try starts
// with a new logger, which creates the report log anew.
CLoggingThread::WorkerState::Outcome CLoggingThread::WorkerState::Unreached(HRESULT hr) {
  if (!ReportLogUnreached(hr)) return Outcome::Done;
  DropLogger(logger);
  return Outcome::Unreached;
}

CLoggingThread::WorkerState::Outcome CLoggingThread::WorkerState::serve(const Pending& item) {
  if (item.event)
    return serveGuarded<CLogEventItem, &WorkerState::logEvent>(*item.event, L"Caught exception 0x%08X in logEvent\r\n");
  return serveGuarded<CLogUserInfoItem, &WorkerState::logUserInfo>(*item.userInfo,
                                                                   L"Caught exception 0x%08X in logUserInfo\r\n");
}

void CLoggingThread::WorkerState::accept(Pending item) {
  if (!item.event && !item.userInfo) return;
  if (backlog.empty()) {
    if (serve(item) == Outcome::Unreached) backlog.push_back(std::move(item));
    return;
  }
  if (backlog.size() < settings.maxBacklogItems)
    backlog.push_back(std::move(item));
  else
    ++dropped;
  retryBacklog();
}

void CLoggingThread::WorkerState::retryBacklog() {
  while (!backlog.empty()) {
    if (serve(backlog.front()) == Outcome::Unreached) return;
    backlog.pop_front();
  }
  reportDropped();
}

// One line per outage, once the report log answers again or the worker stops.
void CLoggingThread::WorkerState::reportDropped() {
  if (dropped == 0) return;
  ZEL_LOG(kLevelError, kSource, L"CLoggingThread::run",
          L"%ld events were dropped while the report log could not be reached\r\n", dropped);
  dropped = 0;
}

void CLoggingThread::WorkerState::freeUnservedItems() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, WM_LOG_EVENT, WM_LOG_USER_INFO, PM_REMOVE)) {
    if (message.message == WM_LOG_EVENT)
      delete reinterpret_cast<CLogEventItem*>(message.wParam);
    else
      delete reinterpret_cast<CLogUserInfoItem*>(message.wParam);
  }
}

IZelLogger* CLoggingThread::WorkerState::getLogger() {
  if (logger) return logger.Get();
  ZEL_LOG(kLevelNormal, kSource, L"CLoggingThread::getLogger", L"Creating the logging object...\r\n");
  HRESULT hr = Ky::CreateInstanceViaFactory(settings.loggerClass, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER,
                                            IID_IZelLogger, reinterpret_cast<void**>(logger.ReleaseAndGetAddressOf()));
  if (FAILED(hr)) {
    logger.Reset();
    ZEL_LOG(kLevelError, kSource, L"CLoggingThread::getLogger", L"Failed to create the logger [Error 0x%08X]\r\n", hr);
    return nullptr;
  }
  // Found from the object's own code: the logger's library in process, the system's proxy code for
  // one served from another process.
  if (!loggerLibrary) loggerLibrary = Strata::PinLibraryAt(*reinterpret_cast<void* const*>(logger.Get()));
  ZEL_LOG(kLevelNormal, kSource, L"CLoggingThread::getLogger", L"Creating the logging object... Done\r\n");
  return logger.Get();
}

CLoggingThread::WorkerState::Outcome CLoggingThread::WorkerState::logEvent(const CLogEventItem& item) {
  ZEL_LOG(kLevelNormal, kSource, L"CLoggingThread::logEvent", L"Logging event %d [%s][%s][Session %d]\r\n",
          item.eventType, OrNull(item.webPage.get()), OrNull(item.content.get()), item.session);
  IZelLogger* target = getLogger();
  if (!target) return Outcome::Done;
  // The logger's interface takes the type by address; it reads the copy, never the item.
  long eventType = item.eventType;
  long result = 0;
  HRESULT hr = target->LogEvent(&eventType, item.webPage.get(), item.content.get(), item.session, &result);
  if (!Ky::CallSucceeded(hr, result))
    ZEL_LOG(kLevelError, kSource, L"CLoggingThread::logEvent",
            L"Failed to log event type %d. [Error 0x%08X][Result 0x%08X]\r\n", item.eventType, hr, result);
  return Unreached(hr);
}

CLoggingThread::WorkerState::Outcome CLoggingThread::WorkerState::logUserInfo(const CLogUserInfoItem& item) {
  ZEL_LOG(kLevelNormal, kSource, L"CLoggingThread::logUserInfo", L"Logging user info on %s (action %d) by %s\r\n",
          item.targetUserName.get(), item.action, item.responsibleUserName.get());
  IZelLogger* target = getLogger();
  if (!target) return Outcome::Done;
  long action = item.action;
  long result = 0;
  HRESULT hr = target->LogInfoUser(&action, item.targetUserName.get(), item.responsibleUserName.get(), &result);
  if (!Ky::CallSucceeded(hr, result))
    ZEL_LOG(kLevelError, kSource, L"CLoggingThread::logUserInfo",
            L"Failed to log user event (action %d). [Error 0x%08X][Result 0x%08X]\r\n", item.action, hr, result);
  return Unreached(hr);
}

CLoggingThread::CLoggingThread(const LoggingThreadSettings& settings) {
  // Made inside Lock, and so inside an object's creation: without memory there is no worker, and
  // every post answers false, rather than an exception in the creator's caller.
  try {
    state_ = std::make_shared<WorkerState>(settings);
  } catch (const std::bad_alloc&) {
    return;
  }
  if (!state_->ready) return;
  std::unique_ptr<WorkerStart> start(new (std::nothrow) WorkerStart{state_, PinThisLibrary()});
  if (!start) return;
  thread_.reset(::CreateThread(nullptr, 0, WorkerProc, start.get(), 0, &threadId_));
  if (!thread_) {
    if (start->library) ::FreeLibrary(start->library);
    threadId_ = 0;
    return;
  }
  start.release();
  HANDLE readyOrEnded[] = {state_->ready.get(), thread_.get()};
  ::WaitForMultipleObjects(2, readyOrEnded, FALSE, settings.readyTimeoutMs);
}

// A worker left behind, by Terminate's time-out or by Abandon, still owns its logger.
CLoggingThread::~CLoggingThread() { Terminate(); }

BOOL CLoggingThread::post(UINT message, void* item) {
  if (threadId_ == 0) return FALSE;
  if (++state_->queued > state_->settings.maxQueuedItems) {
    --state_->queued;
    return FALSE;
  }
  if (::PostThreadMessageW(threadId_, message, reinterpret_cast<WPARAM>(item), 0)) return TRUE;
  --state_->queued;
  return FALSE;
}

BOOL CLoggingThread::queueEvent(long eventType, const wchar_t* webPage, const wchar_t* content,
                                unsigned long session) {
  std::unique_ptr<CLogEventItem> item(new (std::nothrow) CLogEventItem{eventType, {}, {}, session});
  if (!item || !CopyText(webPage, &item->webPage) || !CopyText(content, &item->content)) return FALSE;
  if (!post(WM_LOG_EVENT, item.get())) return FALSE;
  item.release();
  return TRUE;
}

BOOL CLoggingThread::queueUserInfo(long action, const wchar_t* targetUserName, const wchar_t* responsibleUserName) {
  std::unique_ptr<CLogUserInfoItem> item(new (std::nothrow) CLogUserInfoItem{action, {}, {}});
  if (!item || !CopyText(targetUserName, &item->targetUserName) ||
      !CopyText(responsibleUserName, &item->responsibleUserName))
    return FALSE;
  if (!post(WM_LOG_USER_INFO, item.get())) return FALSE;
  item.release();
  return TRUE;
}

void CLoggingThread::Terminate() {
  // Without a thread handle the worker never started, or has been ended or abandoned already.
  if (!thread_) return;
  bool running = false;
  {
    std::lock_guard<Strata::SlimLock> guard(state_->lock);
    state_->terminating = true;
    running = state_->running;
  }
  if (running) {
    ZEL_LOG(kLevelNormal, kSource, L"CLoggingThread::Terminate", L"Shutting down the logging thread\r\n");
    ::PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    if (::WaitForSingleObject(thread_.get(), kStopTimeoutMs) == WAIT_TIMEOUT) {
      ZEL_LOG(kLevelInformation, kSource, L"CLoggingThread::Terminate", L"Logging Thread took too long to exit!\r\n");
      // Killing it could leave the heap, COM or the log locked for good. The worker owns its state
      // and pins this library, so it may end whenever its call returns: it serves what is queued,
      // releases its logger and lets the library go then.
      ZEL_LOG(kLevelWarning, kSource, L"CLoggingThread::Terminate",
              L"Leaving the logging thread to end when its logger returns\r\n");
    }
  } else {
    ZEL_LOG(kLevelWarning, kSource, L"CLoggingThread::Terminate",
            L"Terminating the logging thread before it got a chance to run\r\n");
  }
  thread_.reset();
  threadId_ = 0;
}

void CLoggingThread::Abandon() {
  if (state_) state_->terminating = true;
  if (threadId_ != 0) ::PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
  thread_.reset();
  threadId_ = 0;
}
