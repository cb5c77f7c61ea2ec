#include "LoggingThread.h"

#include <atomic>
#include <new>

#include "CreateInstanceViaFactory.h"
#include "GuardedCall.h"
#include "LogInstance.h"

using Microsoft::WRL::ComPtr;
using ETWLogging::kLevelError;
using ETWLogging::kLevelInformation;
using ETWLogging::kLevelNormal;
using ETWLogging::kLevelWarning;

namespace {

constexpr wchar_t kSource[] = L"LoggingThread";
constexpr long kResultErrorMask = 0x1FFFF;

bool LoggerCallFailed(HRESULT hr, long result) { return FAILED(hr) || (result & kResultErrorMask) != 0; }

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

  void run();
  IZelLogger* getLogger();
  void logEvent(const CLogEventItem& item);
  void logUserInfo(const CLogUserInfoItem& item);
  // Serves the item a message carries under a structured exception handler, which catches access
  // violations too. The item is owned here, outside the guarded frames, so that it is freed even
  // when the logger call faults (destructors in faulted frames do not run).
  template <typename Item, void (WorkerState::*Serve)(const Item&)>
  void serveGuarded(WPARAM carried, const wchar_t* caughtFormat) {
    std::unique_ptr<Item> item(reinterpret_cast<Item*>(carried));
    if (!item) return;
    struct Call {
      WorkerState* state;
      Item* item;
    } call{this, item.get()};
    DWORD code = CallGuarded(
        [](void* context) {
          auto* call = static_cast<Call*>(context);
          (call->state->*Serve)(*call->item);
        },
        &call);
    if (code != 0) ZEL_LOG(ETWLogging::kLevelError, L"LoggingThread", L"CLoggingThread::run", caughtFormat, code);
  }
  // Items of messages that will never be served: those behind the quit request.
  static void freeUnservedItems();

  const LoggingThreadSettings settings;
  // Signalled once the worker's queue exists (or the worker returned without one).
  Strata::UniqueHandle ready{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

  // Makes the worker's test of terminating and its setting of running one step against Terminate.
  // Abandon sets terminating without it: at unload the worker may have been killed holding it.
  std::mutex lock;
  std::atomic<bool> terminating{false};
  bool running = false;  // guarded by lock

  // Items posted and not yet taken by the worker.
  std::atomic<long> queued{0};

  // Used by the worker only.
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

HMODULE PinThisLibrary() {
  HMODULE library = nullptr;
  ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&WorkerProc), &library);
  return library;
}

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
    std::lock_guard<std::mutex> guard(lock);
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

  MSG message;
  while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_LOG_EVENT || message.message == WM_LOG_USER_INFO) --queued;
    if (message.message == WM_LOG_EVENT)
      serveGuarded<CLogEventItem, &WorkerState::logEvent>(message.wParam, L"Caught exception 0x%08X in logEvent\r\n");
    else if (message.message == WM_LOG_USER_INFO)
      serveGuarded<CLogUserInfoItem, &WorkerState::logUserInfo>(message.wParam,
                                                                 L"Caught exception 0x%08X in logUserInfo\r\n");
  }

  freeUnservedItems();
  DropLogger(logger);
  ::CoUninitialize();
  ZEL_LOG(kLevelNormal, kSource, L"CLoggingThread::run", L"Logging thread is exiting\r\n");
  std::lock_guard<std::mutex> guard(lock);
  running = false;
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
  ZEL_LOG(kLevelNormal, kSource, L"CLoggingThread::getLogger", L"Creating the logging object... Done\r\n");
  return logger.Get();
}

void CLoggingThread::WorkerState::logEvent(const CLogEventItem& item) {
  ZEL_LOG(kLevelNormal, kSource, L"CLoggingThread::logEvent", L"Logging event %d [%s][%s][Session %d]\r\n",
          item.eventType, OrNull(item.webPage.get()), OrNull(item.content.get()), item.session);
  IZelLogger* target = getLogger();
  if (!target) return;
  // The logger's interface takes the type by address; it reads the copy, never the item.
  long eventType = item.eventType;
  long result = 0;
  HRESULT hr = target->LogEvent(&eventType, item.webPage.get(), item.content.get(), item.session, &result);
  if (LoggerCallFailed(hr, result))
    ZEL_LOG(kLevelError, kSource, L"CLoggingThread::logEvent",
            L"Failed to log event type %d. [Error 0x%08X][Result 0x%08X]\r\n", item.eventType, hr, result);
}

void CLoggingThread::WorkerState::logUserInfo(const CLogUserInfoItem& item) {
  ZEL_LOG(kLevelNormal, kSource, L"CLoggingThread::logUserInfo", L"Logging user info on %s (action %d) by %s\r\n",
          item.targetUserName.get(), item.action, item.responsibleUserName.get());
  IZelLogger* target = getLogger();
  if (!target) return;
  long action = item.action;
  long result = 0;
  HRESULT hr = target->LogInfoUser(&action, item.targetUserName.get(), item.responsibleUserName.get(), &result);
  if (LoggerCallFailed(hr, result))
    ZEL_LOG(kLevelError, kSource, L"CLoggingThread::logUserInfo",
            L"Failed to log user event (action %d). [Error 0x%08X][Result 0x%08X]\r\n", item.action, hr, result);
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
    std::lock_guard<std::mutex> guard(state_->lock);
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
